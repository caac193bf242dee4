// What one client can make the server hold: a text is bounded per connection, however long a
// client streams without CR. And what goes out: texts and shared pieces in the order queued.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "frontend_support.h"

namespace krb::server {
namespace {

using namespace frontend_testing;

constexpr std::size_t kBlock = 1024 * 1024;

// Texts as the connection hands them over, on the loop thread.
class RecordingEvents : public ConnectionEvents {
  public:
    void ClientRead(const std::shared_ptr<ClientConnection>&, const std::string& text) override {
        largest = std::max(largest.load(), text.size());
        total += text.size();
    }
    void ClientError(const std::shared_ptr<ClientConnection>&, int) override {}
    void ClientDisconnect(const std::shared_ptr<ClientConnection>&) override { closed = true; }

    std::atomic<std::size_t> largest{0};
    std::atomic<std::size_t> total{0};
    std::atomic<bool> closed{false};
};

TEST(ClientInput, AConnectionNeverHoldsMoreThanItsBoundWithoutCarriageReturn) {
    asio::io_context loop;
    asio::ip::tcp::acceptor acceptor(loop, {asio::ip::address_v4::loopback(), 0});
    RecordingEvents events;
    acceptor.async_accept([&](const asio::error_code& error, asio::ip::tcp::socket socket) {
        ASSERT_FALSE(error);
        std::make_shared<ClientConnection>(std::move(socket), events)->Start();
    });
    constexpr std::size_t kStreamed = 8 * ClientConnection::kMaxPendingText;
    std::thread streamer([&] {
        TestClient client(acceptor.local_endpoint().port());
        const std::string block(kBlock, 'x');
        for (std::size_t sent = 0; sent < kStreamed; sent += kBlock) client.Send(block);
    });
    loop.run_for(std::chrono::seconds(60));  // ends when the connection has closed
    streamer.join();

    EXPECT_TRUE(events.closed);
    EXPECT_EQ(events.total, kStreamed);
    EXPECT_LE(events.largest, ClientConnection::kMaxPendingText);
}

// Pieces larger than the socket buffers, shared with the sender, empty or missing, between
// whole texts: the client reads every byte once, in order, and the close waits for them.
TEST(ClientOutput, TextsAndSharedPiecesGoOutInTheOrderQueued) {
    asio::io_context loop;
    asio::ip::tcp::acceptor acceptor(loop, {asio::ip::address_v4::loopback(), 0});
    RecordingEvents events;
    const auto large = std::make_shared<const std::string>(3 * kBlock, 'a');
    acceptor.async_accept([&](const asio::error_code& error, asio::ip::tcp::socket socket) {
        ASSERT_FALSE(error);
        auto connection = std::make_shared<ClientConnection>(std::move(socket), events);
        connection->Start();
        connection->Send("head;");
        connection->SendPieces({large, std::make_shared<const std::string>(), nullptr,
                                std::make_shared<const std::string>("b"), large});
        connection->SendPieces({nullptr});
        connection->Send(";tail");
        connection->WhenSent([connection] { connection->Close(false); });
    });
    std::string received;
    std::thread reader([&] {
        TestClient client(acceptor.local_endpoint().port());
        received = client.ReadToEnd();
    });
    loop.run_for(std::chrono::seconds(60));  // ends when the connection has closed
    reader.join();

    EXPECT_EQ(received.size(), 6 * kBlock + 11);
    EXPECT_EQ(received, "head;" + *large + "b" + *large + ";tail");
    EXPECT_EQ(large.use_count(), 1);  // the connection let go of its pieces
}

}  // namespace
}  // namespace krb::server
