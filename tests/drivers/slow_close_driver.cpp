// A driver whose connections can be counted: every connect opens a new
// connection, and a close takes a while, as a real port's close does, before
// it counts which connection it closed. The counters survive the module's
// unloading for as long as the test holds this library.
#include "api/driver_contract.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr std::int32_t kConnections = 1 << 14;
std::atomic<std::int32_t> opened{0};
std::atomic<std::int32_t> closes[kConnections];

} // namespace

using zelbridge::ConnectionId;
using zelbridge::Word;

extern "C" std::int32_t ZELBRIDGE_STDCALL DRV_ConnectRS232(Word, Word)
{
    const std::int32_t connection = opened.fetch_add(1);
    return connection < kConnections ? connection : -2;
}

extern "C" std::int32_t ZELBRIDGE_STDCALL DRV_CloseConnection(ConnectionId connection)
{
    // Long enough for a call on another thread to land in the middle.
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (connection >= 0 && connection < kConnections)
        closes[connection].fetch_add(1);
    return 0;
}

extern "C" std::int32_t ZELBRIDGE_STDCALL SlowCloseOpened() { return opened.load(); }

extern "C" std::int32_t ZELBRIDGE_STDCALL SlowCloseClosesOf(ConnectionId connection)
{
    return connection >= 0 && connection < kConnections ? closes[connection].load() : -1;
}
