#include "test_helpers/reply_collector.h"

#include <chrono>

namespace TestHelpers {

ReplyCollector::ReplyCollector(TcpClient& controller)
    : _controller(controller), _reader([this] {
        while (!_stop) {
            const std::string more = _controller.readFor(std::chrono::milliseconds(20));
            std::lock_guard<std::mutex> lock(_mutex);
            _replies += more;
        }
    })
{
}

ReplyCollector::~ReplyCollector()
{
    stop();
}

bool ReplyCollector::endsWith(const std::string& tail) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _replies.size() >= tail.size()
           && _replies.compare(_replies.size() - tail.size(), tail.size(), tail) == 0;
}

std::string ReplyCollector::stop()
{
    _stop = true;
    if (_reader.joinable())
        _reader.join();
    std::lock_guard<std::mutex> lock(_mutex);
    return _replies;
}

} // namespace TestHelpers
