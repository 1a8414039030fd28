#include "caster/relay/RelayChunkDecoder.h"

namespace {

enum State {
    SIZE_FIRST,  // the size's first digit
    SIZE,        // further digits
    SIZE_BLANK,  // blanks after the size
    EXTENSION,   // after ";", up to CR
    SIZE_LF,     // the size line's LF
    DATA,
    DATA_CR,  // the CRLF after the data
    DATA_LF,
    ENDED,
    FAILED,
};

// A size this large would never end; it is taken as malformed.
const uint64_t kSizeLimit = uint64_t(1) << 60;

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

RelayChunkStep Step(RelayChunkKind kind, size_t length) { return RelayChunkStep{kind, length}; }

RelayChunkStep Fail(RelayChunkDecoder* decoder, size_t taken)
{
    decoder->state = FAILED;
    return Step(RELAY_CHUNK_MALFORMED, taken);
}

bool InSizeLine(int state)
{
    return state == SIZE_FIRST || state == SIZE || state == SIZE_BLANK || state == EXTENSION || state == SIZE_LF;
}

}  // namespace

void RelayChunkDecoder_Init(RelayChunkDecoder* decoder)
{
    decoder->state = SIZE_FIRST;
    decoder->left = 0;
    decoder->lineLength = 0;
}

RelayChunkStep RelayChunkDecoder_Step(RelayChunkDecoder* decoder, const char* bytes, size_t length)
{
    if (decoder->state == ENDED) return Step(RELAY_CHUNK_END, 0);
    if (decoder->state == FAILED) return Step(RELAY_CHUNK_MALFORMED, 0);
    if (!bytes || length == 0) return Step(RELAY_CHUNK_FRAMING, 0);
    if (decoder->state == DATA) {
        size_t n = decoder->left < length ? static_cast<size_t>(decoder->left) : length;
        decoder->left -= n;
        if (decoder->left == 0) decoder->state = DATA_CR;
        return Step(RELAY_CHUNK_DATA, n);
    }

    size_t at = 0;
    while (at < length) {
        char c = bytes[at++];
        if (InSizeLine(decoder->state) && ++decoder->lineLength > RELAY_CHUNK_LINE_MAX) return Fail(decoder, at);
        switch (decoder->state) {
        case SIZE_FIRST:
        case SIZE: {
            int digit = HexValue(c);
            if (digit >= 0) {
                if (decoder->left >= kSizeLimit >> 4) return Fail(decoder, at);
                decoder->left = (decoder->left << 4) | static_cast<uint64_t>(digit);
                decoder->state = SIZE;
            } else if (decoder->state == SIZE_FIRST) {
                return Fail(decoder, at);
            } else if (IsBlank(c)) {
                decoder->state = SIZE_BLANK;
            } else if (c == ';') {
                decoder->state = EXTENSION;
            } else if (c == '\r') {
                decoder->state = SIZE_LF;
            } else {
                return Fail(decoder, at);
            }
            break;
        }
        case SIZE_BLANK:
            if (c == ';') {
                decoder->state = EXTENSION;
            } else if (c == '\r') {
                decoder->state = SIZE_LF;
            } else if (!IsBlank(c)) {
                return Fail(decoder, at);
            }
            break;
        case EXTENSION:
            if (c == '\r') {
                decoder->state = SIZE_LF;
            } else if (c == '\n') {
                return Fail(decoder, at);
            }
            break;
        case SIZE_LF:
            if (c != '\n') return Fail(decoder, at);
            decoder->lineLength = 0;
            if (decoder->left == 0) {
                decoder->state = ENDED;
                return Step(RELAY_CHUNK_END, at);
            }
            decoder->state = DATA;
            return Step(RELAY_CHUNK_FRAMING, at);
        case DATA_CR:
            if (c != '\r') return Fail(decoder, at);
            decoder->state = DATA_LF;
            break;
        case DATA_LF:
            if (c != '\n') return Fail(decoder, at);
            decoder->state = SIZE_FIRST;
            break;
        default:
            return Fail(decoder, at);
        }
    }
    return Step(RELAY_CHUNK_FRAMING, at);
}
