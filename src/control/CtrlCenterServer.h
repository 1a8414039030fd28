// The control-centre network server, through which every reply and
// notification to a control-centre connection is posted.
#pragma once

struct NHServer;

// Null until the control centre's set-up has created it.
NHServer* GetCtrlCenterServer();
void SetCtrlCenterServer(NHServer* server);
