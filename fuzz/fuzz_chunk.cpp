// Whatever arrives on the serial line reaches judgeChunk as one chunk, so every byte
// string must be judged without reading past its end, and every accepted frame must
// render. Accepted frames must also survive encoding again unchanged, and command
// frames must rebuild byte for byte.
#include "protocol/commandframe.h"
#include "protocol/displaytext.h"
#include "protocol/telemetryframe.h"

#include <cstdlib>
#include <cstring>

namespace {

void checkTelemetry(const uchar *data, size_t size)
{
    // The pointer straight from libFuzzer: its buffer ends exactly at size, so any
    // read past the chunk trips AddressSanitizer.
    const ChunkResult result = judgeChunk(data, qsizetype(size));
    if (result.verdict != ChunkVerdict::Frame)
        return;

    // Every byte value has a text; an empty one would leave a field blank.
    const TelemetryTexts texts = renderTelemetry(result.telemetry);
    if (texts.cells[0].isEmpty() || texts.systemState.isEmpty() || texts.model.isEmpty())
        abort();

    const QByteArray again = encodeTelemetry(result.telemetry);
    const ChunkResult reread = judgeChunk(again);
    if (reread.verdict != ChunkVerdict::Frame || encodeTelemetry(reread.telemetry) != again)
        abort();
}

void checkCommand(const uchar *data, size_t size)
{
    const auto decoded = decodeCommandFrame(data, qsizetype(size));
    if (!decoded || data[7] != 0)
        return;
    const CommandFrame rebuilt = buildCommandFrame(CommandCode(decoded->code), decoded->parameter);
    if (std::memcmp(rebuilt.data(), data, rebuilt.size()) != 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkTelemetry(data, size);
    checkCommand(data, size);
    return 0;
}
