// The service control handler.
#include "caster/centre/Service.h"

#include <gtest/gtest.h>

TEST(ServiceControl, StopAndShutdownReportStoppedOtherControlsChangeNothing)
{
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ServiceStatus before = Service_CurrentStatus();
    EXPECT_NE(static_cast<uint32_t>(SERVICE_STOPPED), before.currentState);
    for (uint32_t control : {static_cast<uint32_t>(SERVICE_CONTROL_STOP), static_cast<uint32_t>(SERVICE_CONTROL_SHUTDOWN)}) {
        ServiceCtrlHandler(control);
        ServiceStatus after = Service_CurrentStatus();
        EXPECT_EQ(static_cast<uint32_t>(SERVICE_STOPPED), after.currentState);
        EXPECT_EQ(0u, after.exitCode);
        ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
        EXPECT_EQ(static_cast<uint32_t>(SERVICE_STOPPED), Service_CurrentStatus().currentState);
    }
}
