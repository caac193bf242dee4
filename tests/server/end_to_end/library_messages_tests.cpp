// Operator messages that the library raises on its own threads reach the server's log: the
// library and the server share one operator-message sink.
#include <algorithm>

#include "demo_lab_server.h"

namespace krb::server::e2e {
namespace {

using test_support::EventOf;
using test_support::readLines;

using LibraryMessagesInLog = DemoLabServerTest;

TEST_F(LibraryMessagesInLog, AScanThatLosesItsControllerIsLoggedWithTheUnit) {
    const std::string log = LabFile("KRBServer.log").string();
    TestClient client(ServerPort());
    Activate(client, "Store4", "1;1");
    Control("FAULT COM4 silent");  // the scan's first positioning gets no answer

    client.Send("KRB2InventoryPlateExp(Store4,ignored.inv,1,0)\r");
    EXPECT_NE(AwaitLine(client), "<no reply>");
    const auto scanError = [&log] {
        const auto lines = readLines(log);
        return std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
                   return EventOf(line) == "Error" &&
                          line.find(";Inventory Error Unit ID:Store4 Error Code:") !=
                              std::string::npos;
               }) != lines.end();
    };
    EXPECT_TRUE(eventually(scanError, std::chrono::seconds(10)))
        << "log:\n"
        << [&log] {
               std::string all;
               for (const auto& line : readLines(log)) all += line + "\n";
               return all;
           }();
    Control("CLEAR COM4");
}

}  // namespace
}  // namespace krb::server::e2e
