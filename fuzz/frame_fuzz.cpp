// Fuzzes the management frame scanner: raw bytes, and the bytes cut into
// frames with valid CRCs under the table's types (so that bodies reach the
// message parsers), whole and in chunks through a queue as the PPP-RTK
// executor feeds it, and through a decode framework's ring buffer and decode
// step as a control-centre connection feeds it.
#include "FuzzDriver.h"

#include "control/FrameCrc32.h"
#include "control/FrameDecode.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypeTable.h"
#include "control/ProtobufLog.h"
#include "decoding/DecodeFramework.h"

#include <google/protobuf/message.h>

#include <vector>

namespace {

void CheckUnit(const Tarnek::LogRoot* unit)
{
    const RVZ::RVZProtoMsg* m = dynamic_cast<const RVZ::RVZProtoMsg*>(unit);
    FuzzDriver::Require(m != nullptr);
    FuzzDriver::Require(m->GetKind() == Tarnek::LOG_KIND_MANAGEMENT);
    const MessageTypeEntry* entry = MessageType_Find(m->type);
    FuzzDriver::Require(entry != nullptr && m->body != nullptr);
    google::protobuf::Message* fresh = entry->newBody();
    FuzzDriver::Require(fresh->GetDescriptor() == m->body->GetDescriptor());
    delete fresh;
    if (entry->idRule == FRAME_ID_NOT_NEGATIVE) FuzzDriver::Require(m->id >= 0);
    if (entry->idRule == FRAME_ID_NOTIFY_ONLY) FuzzDriver::Require(m->id == -1);
    if (entry->words == FRAME_WORDS_NONE) FuzzDriver::Require(m->more == 0);
    if (entry->words != FRAME_WORDS_MORE_EXTRA) FuzzDriver::Require(m->extra == 0);
    // Serializing a decoded body never fails and gives a body that parses.
    std::string again = m->body->SerializeAsString();
    fresh = m->body->New();
    FuzzDriver::Require(fresh->ParseFromString(again));
    delete fresh;
}

// Slices of the input as frames: five control bytes pick the type, id,
// header words and body length; a byte of the input goes between frames.
std::vector<unsigned char> AsFrames(const uint8_t* data, size_t size)
{
    size_t count = 0;
    const MessageTypeEntry* entries = MessageType_Entries(&count);
    std::vector<unsigned char> out;
    size_t i = 0;
    while (i + 5 <= size) {
        const MessageTypeEntry& e = entries[data[i] % count];
        uint32_t type = e.first + data[i + 1] % (e.last - e.first + 1);
        int32_t id = static_cast<int8_t>(data[i + 2]);
        uint8_t more = data[i + 3] & 1;
        uint32_t extra = data[i + 3] >> 1;
        size_t body = data[i + 4] % 80;
        i += 5;
        if (body > size - i) body = size - i;

        unsigned char header[FRAME_HEADER_LENGTH];
        BuildFrameHeaderEx(type, header, id, static_cast<uint32_t>(body), more, extra);
        size_t start = out.size();
        out.insert(out.end(), header, header + sizeof(header));
        out.insert(out.end(), data + i, data + i + body);
        unsigned char crc[4];
        Frame_WriteU32(crc, FrameCrc32(out.data() + start, out.size() - start));
        out.insert(out.end(), crc, crc + 4);
        i += body;
        if (i < size) out.push_back(data[i++]);
    }
    return out;
}

// A decode step without a thread of its own, so each input is decoded
// right after it is written, exactly as the connection's thread would.
class InlineDecodeThread : public DFW::DecodeThread {
public:
    bool Start(DFW::DecodeSource* framework) override
    {
        m_framework = framework;
        return true;
    }
};

void DispatchUnit(Tarnek::LogRoot* unit, void*)
{
    CheckUnit(unit);
    delete unit;
}

DFW::DecodeFramework* g_framework = nullptr;
InlineDecodeThread* g_step = nullptr;

void DriveFramework(const std::vector<unsigned char>& bytes, size_t chunk)
{
    size_t offset = 0;
    while (offset < bytes.size()) {
        size_t n = chunk == 0 || bytes.size() - offset < chunk ? bytes.size() - offset : chunk;
        g_framework->Write(bytes.data() + offset, n);
        offset += n;
        while (g_step->DecodeOnce() != 0) {
        }
    }
    // The next input starts on a fresh stream.
    DFW::RingBuffer* ring = g_framework->Ring();
    ring->Consume(ring->Unread());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzDriver::InitLog();
    ProtobufLog_ToDailyLog();
    g_framework = new DFW::DecodeFramework;
    g_framework->Init(ScanFrame, DispatchUnit, nullptr);
    g_step = new InlineDecodeThread;
    g_step->Start(g_framework);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDriver::DriveAll(ScanFrame, data, size, CheckUnit);
    std::vector<unsigned char> frames = AsFrames(data, size);
    FuzzDriver::DriveAll(ScanFrame, frames.data(), frames.size(), CheckUnit);
    DriveFramework(frames, size ? 1 + data[0] % 41 : 0);
    DriveFramework(std::vector<unsigned char>(data, data + size), 0);
    return 0;
}
