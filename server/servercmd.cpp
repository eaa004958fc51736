#include "server/servercmd.h"

#include "utils/console.h"
#include "utils/errors.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace Server {

namespace {

constexpr int receiveTimeout = 100;
constexpr size_t readLimit = 256;
// Longest run kept from a full read for the next one; a longer run without
// whitespace is parsed as it is.
constexpr size_t carryLimit = 64;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the number after "alive" from pos: whitespace, an optional sign,
// decimal digits, up to the first character that cannot continue it.
// Returns false, leaving pos after the whitespace, when no digit follows.
bool parseNumber(const std::string& text, size_t& pos, int32_t& value)
{
    size_t p = pos;
    while (p < text.size() && isSpace(text[p]))
        ++p;
    pos = p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || text[p] < '0' || text[p] > '9')
        return false;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        magnitude = std::min<int64_t>(magnitude * 10 + (text[p] - '0'), limit);
        ++p;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    pos = p;
    return true;
}

// For a read that filled the whole buffer: where the part starts that may
// continue in the next read (an unfinished last word, or a last word
// "alive" still waiting for its number). text.size() when there is none.
size_t carryStart(const std::string& text)
{
    const size_t end = text.size();
    size_t keep = end;
    if (!isSpace(text.back())) {
        size_t start = end;
        while (start > 0 && !isSpace(text[start - 1]))
            --start;
        if (end - start > carryLimit)
            return end;
        keep = start;
    }
    size_t wordEnd = keep;
    while (wordEnd > 0 && isSpace(text[wordEnd - 1]))
        --wordEnd;
    size_t wordStart = wordEnd;
    while (wordStart > 0 && !isSpace(text[wordStart - 1]))
        --wordStart;
    if (text.compare(wordStart, wordEnd - wordStart, "alive") == 0 && end - wordStart <= carryLimit)
        keep = wordStart;
    return keep;
}

} // namespace

ServerCmd::ServerCmd(int port) : _port(port) {}

ServerCmd::~ServerCmd()
{
    // The worker uses the members below; it must be gone before they are.
    stopThread();
}

void ServerCmd::sendUdpReady(int port)
{
    queue("udpReady " + std::to_string(port));
}

ServerCmd::Controller ServerCmd::controller() const
{
    return std::atomic_load(&_peer);
}

void ServerCmd::sendUdpReady(int port, const Controller& to)
{
    queue("udpReady " + std::to_string(port), to);
}

void ServerCmd::initTransmissionFailed(const Controller& to)
{
    Utils::printOut("ServerCmd::initTransmissionFailed(): initTransmissionFailed\n");
    queue("initTransmissionFailed", to);
}

uint32_t ServerCmd::hostOf(const Controller& controller)
{
    const std::shared_ptr<Wrappers::Net> peer = controller.lock();
    return peer ? peer->peerHost() : 0;
}

void ServerCmd::queue(const std::string& cmd, const Controller& to)
{
    if (const std::shared_ptr<Wrappers::Net> peer = to.lock())
        peer->bufferCmd(cmd);
}

void ServerCmd::initTransmissionFailed()
{
    Utils::printOut("ServerCmd::initTransmissionFailed(): initTransmissionFailed\n");
    queue("initTransmissionFailed");
}

void ServerCmd::sendReadError()
{
    queue("readerror");
}

void ServerCmd::queue(const std::string& cmd)
{
    // A copy keeps the connection alive while we queue on it, even if the
    // server thread drops it meanwhile.
    std::shared_ptr<Wrappers::Net> peer = std::atomic_load(&_peer);
    if (peer)
        peer->bufferCmd(cmd);
}

void ServerCmd::threadMain()
{
    _listener.setupListen(_port, Wrappers::ConnectionType::TCP);
    while (!checkStop()) {
        std::shared_ptr<Wrappers::Net> peer(_listener.accept([this] { return checkStop(); }));
        if (!peer)
            return;
        _carry.clear();
        std::atomic_store(&_peer, peer);
        Utils::printOut("ServerCmd: koblet til\n");
        serve();
    }
}

// Server thread: one controller, until its connection breaks or a stop is
// requested.
void ServerCmd::serve()
{
    const std::shared_ptr<Wrappers::Net> peer = std::atomic_load(&_peer);
    for (;;) {
        try {
            try {
                parse(peer->recvCmd(receiveTimeout));
            } catch (const Utils::NetErrorTimeout&) {
                // A pause ends whatever a full read left unfinished.
                if (!_carry.empty())
                    parse("");
            }
            peer->sendCommands();
        } catch (const Utils::NetErrorSend&) {
            // The read found the connection closed or failed, the wait
            // failed, or a reply could not be sent: all mean a lost
            // controller. Dropping our reference closes the connection once
            // no other thread is queueing on it; replies queued from now on
            // are dropped.
            _connectionBrokenSignal(0);
            Utils::printOut("connection broken\n");
            std::atomic_store(&_peer, std::shared_ptr<Wrappers::Net>());
            return;
        }
        if (checkStop())
            return;
    }
}

// Server thread. A full read may end inside a word; that part is kept and
// parsed in front of the next chunk. An empty chunk parses what was kept.
void ServerCmd::parse(const std::string& chunk)
{
    std::string text = _carry + chunk;
    _carry.clear();
    if (chunk.size() == readLimit) {
        const size_t keep = carryStart(text);
        _carry = text.substr(keep);
        text.erase(keep);
    }

    size_t pos = 0;
    for (;;) {
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
        if (pos >= text.size())
            break;
        const size_t start = pos;
        while (pos < text.size() && !isSpace(text[pos]))
            ++pos;
        const std::string word = text.substr(start, pos - start);

        if (word == "startTransmission") {
            _startTransmissionSignal(0);
        } else if (word == "startTransmissionAgain") {
            _startTransmissionAgainSignal(0);
        } else if (word == "alive") {
            int32_t value = 0;
            parseNumber(text, pos, value);
            queue("alive " + std::to_string(value));
        } else {
            Utils::printErr("ServerCmd: Ukjent signal: " + word + "\n");
        }
    }
}

} // namespace Server
