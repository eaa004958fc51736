#include "send/audio_file_decoder.h"
#include "send/encoded_source.h"
#include "send/input_stream.h"
#include "send/null_sink.h"
#include "send/ogg_page_reader.h"
#include "send/ogg_repager.h"
#include "send/pacing_schedule.h"
#include "send/pulse_capture.h"
#include "send/repair_stream.h"
#include "send/send_errors.h"
#include "send/send_options.h"
#include "send/send_session.h"
#include "utils/console.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

enum ExitCode {
    exitOk = 0,
    exitError = 1,
    exitUsage = 2,
    exitNoReceiver = 3,
    exitNotAudio = 4,
    exitGaveUp = 5,
    exitConnectionLost = 6,
    exitUnreadable = 7,
    exitNoSoundServer = 8,
    exitNoSource = 9,
    exitCannotEncode = 10,
};

// Every page fits one datagram, so that a lost datagram costs only the
// pages it carries.
const size_t datagramBytes = 1024;

void fail(const std::string& text)
{
    Utils::printErr("veldrane-send: " + text + "\n");
}

int sessionResult(Send::SendSession::Result result)
{
    switch (result) {
    case Send::SendSession::Result::Finished:
        return exitOk;
    case Send::SendSession::Result::NoReceiver:
        return exitNoReceiver;
    case Send::SendSession::Result::GaveUp:
        return exitGaveUp;
    case Send::SendSession::Result::ConnectionLost:
        return exitConnectionLost;
    }
    return exitError;
}

// With repair, each page must leave room in a datagram for a repair piece
// as long as it and the piece's headers.
size_t pageBytes(const Send::SendOptions& options)
{
    return options.repair > 0 ? Send::RepairStream::largestProtectedPage(datagramBytes) : datagramBytes;
}

Send::SessionConfig configFrom(const Send::SendOptions& options, double totalSeconds)
{
    Send::SessionConfig config;
    config.host = options.host;
    config.port = options.port;
    config.lead = options.lead;
    config.loop = options.loop;
    config.readyTimeoutMs = options.timeoutMs;
    config.progress = options.progress && isatty(STDOUT_FILENO);
    config.totalSeconds = totalSeconds;
    config.datagramBytes = datagramBytes;
    config.repairPercent = options.repair;
    return config;
}

// liveInput: an Ogg stream from a pipe, which a live encoder may be
// writing as it is sent.
int send(const Send::SendOptions& options, Send::PageSource& source, double totalSeconds,
         bool liveInput = false)
{
    Send::SessionConfig config = configFrom(options, totalSeconds);
    config.liveInput = liveInput;
    Send::SendSession session(config, source);
    return sessionResult(session.run());
}

// Whether the input begins with a Vorbis stream's first page: its header,
// one lacing value, and the identification packet's type and name. Decided
// from those bytes alone, left in the input, so that FFmpeg, which opens
// the name again, finds a pipe's stream whole.
bool startsAsVorbis(Send::InputStream& input)
{
    unsigned char head[35] = {};
    const size_t pageHeader = 27;
    return input.peek(head, sizeof head) == sizeof head && std::memcmp(head, "OggS", 4) == 0
           && (head[5] & 2) != 0 && head[pageHeader - 1] == 1 && head[pageHeader + 1] == 1
           && std::memcmp(head + pageHeader + 2, "vorbis", 6) == 0;
}

// Whether the input starts as an Ogg Vorbis stream, and its length when it
// can be read to the end beforehand.
bool isOggVorbis(Send::InputStream& input, double& seconds)
{
    if (!startsAsVorbis(input))
        return false;
    Send::OggPageReader reader(input);
    Send::OggPage first;
    const bool vorbis = reader.next(first) && !first.truncated && reader.skippedBytes() == 0 && first.bos
                        && first.sampleRate > 0;
    if (vorbis && input.seekable()) {
        Send::PacingSchedule schedule(0);
        Send::OggPage page = first;
        do {
            schedule.due(page);
        } while (reader.next(page));
        seconds = schedule.playEnd();
    }
    if (input.rewindable())
        input.rewind();
    return vorbis;
}

int playFile(const Send::SendOptions& options)
{
    double seconds = 0;
    {
        Send::InputStream input(options.path);
        if (isOggVorbis(input, seconds)) {
            Send::OggPageReader reader(input);
            Send::OggRepager source(reader, pageBytes(options));
            return send(options, source, seconds, !input.seekable());
        }
        // FFmpeg reads files; standard input is for a live Ogg encoder.
        if (options.path == "-") {
            fail(input.name() + " is not an Ogg Vorbis stream");
            return exitNotAudio;
        }
    }
    Send::AudioFileDecoder decoder(options.path);
    // Checked before connecting: the receiver would only wait for a stream.
    if (!decoder.holdsAudio())
        throw Send::NotAudioError(options.path + " holds no audio that can be decoded (no sound in it)");
    Send::EncodedSource source(decoder, options.quality, pageBytes(options));
    return send(options, source, decoder.seconds());
}

int playLive(const Send::SendOptions& options)
{
    std::unique_ptr<Send::NullSink> sink;
    std::string where = options.source.empty() ? Send::PulseCapture::defaultSource : options.source;
    if (!options.sink.empty()) {
        sink = std::make_unique<Send::NullSink>(options.sink);
        where = sink->monitor();
    }
    Send::PulseCapture capture(where);
    Send::EncodedSource source(capture, options.quality, pageBytes(options));
    return send(options, source, 0);
}

int play(const Send::SendOptions& options)
{
    try {
        return options.path.empty() ? playLive(options) : playFile(options);
    } catch (const Send::NotAudioError& e) {
        fail(e.what());
        return exitNotAudio;
    } catch (const Send::NoSoundServerError& e) {
        fail(e.what());
        return exitNoSoundServer;
    } catch (const Send::NoSourceError& e) {
        fail(e.what());
        return exitNoSource;
    } catch (const Send::UnreadableError& e) {
        fail(e.what());
        return exitUnreadable;
    } catch (const Send::EncoderError& e) {
        fail(e.what());
        return exitCannotEncode;
    } catch (const std::invalid_argument& e) {
        fail(e.what());
        return exitUsage;
    }
}

} // namespace

int main(int argc, char** argv)
{
    Utils::lineBufferConsole();
    // The network objects' life is the receiver's trace, not ours.
    Utils::showTrace(false);
    Send::SendOptions options;
    if (!options.parse(argc, argv)) {
        fail(options.error() + " (see veldrane-send --help)");
        return exitUsage;
    }
    if (options.help()) {
        std::fputs(Send::SendOptions::usage().c_str(), stdout);
        return exitOk;
    }
    try {
        return play(options);
    } catch (const std::runtime_error& e) {
        fail(e.what());
        return exitError;
    } catch (const std::exception&) {
        fail("unexpected error");
        return exitError;
    }
}
