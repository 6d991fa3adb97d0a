// The locator parser: worked examples, escapes, typed readers and round trips through asString.
#include <varonet/udl/UDLParser.h>

#include <gtest/gtest.h>

#include <varonet/base/Exception.h>
#include <varonet/udl/UDLErrors.h>

#include "support/TestCalls.h"

using UDL::UDLParser;

namespace {

struct Row {
    const char* locator;
    const char* targetKey;
    const char* restKey;  // null: options form
    const char* protocol;
    const char* target;
    UDLParser::Options options;
};

UDLParser make(const Row& row) {
    return row.restKey ? UDLParser(row.locator, row.targetKey, row.restKey) : UDLParser(row.locator, row.targetKey);
}

// The worked examples of the locator syntax, exactly as the resolvers parse them.
// clang-format off
const Row kRows[] = {
    {"serial:COM2:baudrate=115200,FlowControl=Hardware", "baudrate", nullptr, "serial", "COM2", {{"baudrate", "115200"}, {"FlowControl", "Hardware"}}},
    {"serial:COM2@57k:FlowControl=Software", "baudrate", nullptr, "serial", "COM2", {{"baudrate", "57k"}, {"FlowControl", "Software"}}},
    {"modem:serial\\:COM1\\@115k:Number=555,Attempts=3,Modulation=V34", "at", nullptr, "modem", "serial:COM1@115k",
     {{"Number", "555"}, {"Attempts", "3"}, {"Modulation", "V34"}}},
    {"tcpip:localhost@5000", "port", "", "tcpip", "localhost", {{"port", "5000"}}},
    {"tcpip:localhost:Port=5000,ConnectTimeout=3000", "port", "", "tcpip", "localhost", {{"", "Port=5000,ConnectTimeout=3000"}}},
    {"tcpip:localhost:Port=5000,ConnectTimeout=3000", "", nullptr, "tcpip", "localhost", {{"Port", "5000"}, {"ConnectTimeout", "3000"}}},
    {"capi::Protocol=X75,Preconfigured", "", nullptr, "capi", "", {{"Protocol", "X75"}, {"Preconfigured", "1"}}},
    {"file:C\\:\\data\\log.txt@rw", "mode", "", "file", "C:\\data\\log.txt", {{"mode", "rw"}}},
    {"server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75", "", nullptr, "server", "isdnmodem",
     {{"Device", "serial:COM1@115k"}, {"Protocol", "X75"}}},
    {"server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75", "", "UnnamedOption", "server", "isdnmodem",
     {{"UnnamedOption", "Device=serial:COM1@115k,Protocol=X75"}}},
    // Each level of nesting escapes the inner locator once more.
    {"modem:modem\\:serial\\\\:COM1\\\\@9600\\:Number=1:Number=2", "at", nullptr, "modem", "modem:serial\\:COM1\\@9600:Number=1",
     {{"Number", "2"}}},
    // Edge cases that catch real faults in the splitting rules.
    {"stdio:", "", nullptr, "stdio", "", {}},
    {":x", "", nullptr, "", "x", {}},
    {"a\\:b:c", "", nullptr, "a\\:b", "c", {}},
    {"serial:COM1:x=a@b", "baudrate", nullptr, "serial", "COM1:x=a", {{"baudrate", "b"}}},
    {"serial:COM1:baudrate=", "baudrate", nullptr, "serial", "COM1", {}},
    {"serial:COM1:baudrate=,FlowControl=Hardware", "baudrate", nullptr, "serial", "COM1", {{"baudrate", ""}, {"FlowControl", "Hardware"}}},
    {"capi::Preconfigured,Preconfigured=0", "", nullptr, "capi", "", {{"Preconfigured", "0"}}},
    {"x:t:a=1, b=2", "", nullptr, "x", "t", {{"a", "1"}, {" b", "2"}}},
    {"x:t:a=1\\,2,b=3", "", nullptr, "x", "t", {{"a", "1\\,2"}, {"b", "3"}}},
    {"serial:COM1@9600:baudrate=19200", "baudrate", nullptr, "serial", "COM1", {{"baudrate", "19200"}}},
    {"x:t:k=v=w,bare", "", nullptr, "x", "t", {{"k", "v=w"}, {"bare", "1"}}},
    {"x:t:,,", "", nullptr, "x", "t", {{"", "1"}}},
    {"x:t:a\\:b=c\\:d", "", nullptr, "x", "t", {{"a\\:b", "c:d"}}},
    {"loopback:", "", "", "loopback", "", {}},
    {"file:/tmp/a\\@b.txt@ro", "mode", "", "file", "/tmp/a@b.txt", {{"mode", "ro"}}},
    {"x:t@v:rest\\:kept,all", "k", "R", "x", "t", {{"k", "v"}, {"R", "rest:kept,all"}}},
};
// clang-format on

TEST(UDLParser, WorkedExamplesAndEdgeCases) {
    for (const Row& row : kRows) {
        UDLParser p = make(row);
        EXPECT_EQ(p.getProtocol().str(), row.protocol) << row.locator;
        EXPECT_EQ(p.getTarget().str(), row.target) << row.locator;
        EXPECT_FALSE(p.getTarget().isNull()) << row.locator;
        EXPECT_EQ(p.getOptions(), row.options) << row.locator;
    }
}

TEST(UDLParser, LocatorWithoutUnescapedColonThrows9728) {
    for (const char* text : {"none", "none\\:x", "", "\\:", "a@b"})
        EXPECT_EQ(TestSupport::codeOf([&] { UDLParser(text, ""); }), UDL::ErrNoProtocol) << text;
}

TEST(UDLParser, TypedReaders) {
    UDLParser p("x:t:a=True,b=7,c=true,d=false,e=0,f,g=,h=12abc,i=4294967295", "");
    for (const char* key : {"b", "c", "f"}) EXPECT_TRUE(p.getBool(key)) << key;  // a bare word reads as 1
    for (const char* key : {"a", "d", "e", "g", "absent"}) EXPECT_FALSE(p.getBool(key)) << key;
    // clang-format off
    const struct { const char* key; unsigned int value; } numbers[] = {{"b", 7}, {"g", 0}, {"absent", 0}, {"h", 0}, {"i", 4294967295u}};
    // clang-format on
    for (const auto& n : numbers) EXPECT_EQ(p.getUnsigned(n.key), n.value) << n.key;
    EXPECT_TRUE(p.getString("absent").isNull());
    EXPECT_TRUE(p.hasOption("g"));
    EXPECT_FALSE(p.getString("g").isNull()) << "an empty value is not an absent one";
    EXPECT_EQ(p.getString("g"), "");
}

TEST(UDLParser, SettersAndAsStringRoundTrips) {
    UDLParser p;
    EXPECT_TRUE(p.getProtocol().isNull());
    EXPECT_TRUE(p.getTarget().isNull());
    EXPECT_TRUE(p.getOptions().empty());
    p.setProtocol("serial");
    p.setTarget("COM1");
    p.setOption("baudrate", "9600");
    p.setOption("Attempts", "3");
    EXPECT_EQ(p.asString("baudrate", "").str(), "serial:COM1@9600:Attempts=3");
    p.setOption("Attempts", "4");
    p.eraseOption("baudrate");
    p.eraseOption("missing");
    EXPECT_EQ(p.asString("baudrate", "").str(), "serial:COM1:Attempts=4");
    for (const char* text :
         {"modem:serial\\:COM1\\@115k:Attempts=3,Number=555", "serial:COM1@9600:FlowControl=Hardware",
          "x:a\\@b\\:c:k=v\\:w\\@z", "modem:modem\\:serial\\\\:COM1\\\\@9600\\:Number=1:Number=2"})
        EXPECT_EQ(UDLParser(text, "baudrate").asString("baudrate", "").str(), text);
    EXPECT_EQ(UDLParser("file:C\\:\\data\\log.txt@rw", "mode").asString("mode", "").str(),
              "file:C\\:\\data\\log.txt@rw");
    // Bare words come back with "=1", empty values and empty keys are lost, an escaped comma keeps its backslash.
    EXPECT_EQ(UDLParser("x:t:bare,,empty=,a=1\\,2", "").asString("", "").str(), "x:t:a=1\\,2,bare=1");
    UDLParser rest("server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75", "", "UnnamedOption");
    rest.setOption("Other", "x");
    EXPECT_EQ(rest.asString("", "UnnamedOption").str(), "server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75")
        << "only the rest";
}

}  // namespace
