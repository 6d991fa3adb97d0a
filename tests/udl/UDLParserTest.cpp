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
const Row kWorkedExamples[] = {
    {"serial:COM2:baudrate=115200,FlowControl=Hardware", "baudrate", nullptr, "serial", "COM2",
     {{"baudrate", "115200"}, {"FlowControl", "Hardware"}}},
    {"serial:COM2@57k:FlowControl=Software", "baudrate", nullptr, "serial", "COM2",
     {{"baudrate", "57k"}, {"FlowControl", "Software"}}},
    {"modem:serial\\:COM1\\@115k:Number=555,Attempts=3,Modulation=V34", "at", nullptr, "modem", "serial:COM1@115k",
     {{"Number", "555"}, {"Attempts", "3"}, {"Modulation", "V34"}}},
    {"tcpip:localhost@5000", "port", "", "tcpip", "localhost", {{"port", "5000"}}},
    {"tcpip:localhost:Port=5000,ConnectTimeout=3000", "port", "", "tcpip", "localhost",
     {{"", "Port=5000,ConnectTimeout=3000"}}},
    {"tcpip:localhost:Port=5000,ConnectTimeout=3000", "", nullptr, "tcpip", "localhost",
     {{"Port", "5000"}, {"ConnectTimeout", "3000"}}},
    {"capi::Protocol=X75,Preconfigured", "", nullptr, "capi", "", {{"Protocol", "X75"}, {"Preconfigured", "1"}}},
    {"file:C\\:\\data\\log.txt@rw", "mode", "", "file", "C:\\data\\log.txt", {{"mode", "rw"}}},
    {"server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75", "", nullptr, "server", "isdnmodem",
     {{"Device", "serial:COM1@115k"}, {"Protocol", "X75"}}},
    {"server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75", "", "UnnamedOption", "server", "isdnmodem",
     {{"UnnamedOption", "Device=serial:COM1@115k,Protocol=X75"}}},
};

// Edge cases that catch real faults in the splitting rules.
const Row kEdgeCases[] = {
    {"stdio:", "", nullptr, "stdio", "", {}},
    {":x", "", nullptr, "", "x", {}},
    {"a\\:b:c", "", nullptr, "a\\:b", "c", {}},
    {"serial:COM1:x=a@b", "baudrate", nullptr, "serial", "COM1:x=a", {{"baudrate", "b"}}},
    {"serial:COM1:baudrate=", "baudrate", nullptr, "serial", "COM1", {}},
    {"serial:COM1:baudrate=,FlowControl=Hardware", "baudrate", nullptr, "serial", "COM1",
     {{"baudrate", ""}, {"FlowControl", "Hardware"}}},
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

TEST(UDLParser, WorkedExamplesAndEdgeCases) {
    const auto check = [](const Row& row) {
        UDLParser p = make(row);
        EXPECT_EQ(p.getProtocol().str(), row.protocol) << row.locator;
        EXPECT_TRUE(p.getTarget().str() == row.target && !p.getTarget().isNull()) << row.locator;
        EXPECT_EQ(p.getOptions(), row.options) << row.locator;
    };
    for (const Row& row : kWorkedExamples) check(row);
    for (const Row& row : kEdgeCases) check(row);
}

TEST(UDLParser, LocatorWithoutUnescapedColonThrows9728) {
    for (const char* text : {"none", "none\\:x", "", "\\:", "a@b"})
        EXPECT_EQ(TestSupport::codeOf([&] { UDLParser(text, ""); }), UDL::ErrNoProtocol) << text;
}

TEST(UDLParser, TypedReaders) {
    UDLParser p("x:t:a=True,b=7,c=true,d=false,e=0,f,g=,h=12abc,i=4294967295", "");
    for (const char* key : {"b", "c", "f"}) EXPECT_TRUE(p.getBool(key)) << key;  // a bare word reads as 1
    for (const char* key : {"a", "d", "e", "g", "absent"}) EXPECT_FALSE(p.getBool(key)) << key;
    const struct { const char* key; unsigned int value; } numbers[] = {{"b", 7}, {"g", 0}, {"absent", 0}, {"h", 0}, {"i", 4294967295u}};
    for (const auto& n : numbers) EXPECT_EQ(p.getUnsigned(n.key), n.value) << n.key;
    EXPECT_TRUE(p.getString("absent").isNull());
    EXPECT_TRUE(p.hasOption("g") && !p.getString("g").isNull() && p.getString("g").isEmpty());
}

TEST(UDLParser, EmptyParserAndSetters) {
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
    UDLParser copy = p;
    copy.setTarget("COM2");
    EXPECT_EQ(p.getTarget().str(), "COM1");
}

TEST(UDLParser, AsStringEscapesAndRoundTrips) {
    const char* roundTrips[] = {
        "modem:serial\\:COM1\\@115k:Attempts=3,Number=555",
        "file:C\\:\\data\\log.txt@rw",
        "serial:COM1@9600:FlowControl=Hardware",
        "x:a\\@b\\:c:k=v\\:w\\@z",
    };
    for (const char* text : roundTrips) {
        SCOPED_TRACE(text);
        UDLParser p(text, text[0] == 'f' ? "mode" : "baudrate");
        EXPECT_EQ(p.asString(text[0] == 'f' ? "mode" : "baudrate", "").str(), text);
    }
    // Bare words come back with "=1", empty values are lost, an escaped comma keeps its backslash.
    UDLParser q("x:t:bare,empty=,a=1\\,2", "");
    EXPECT_EQ(q.asString("", "").str(), "x:t:a=1\\,2,bare=1");
}

TEST(UDLParser, AsStringRestKeyWritesOnlyTheRest) {
    UDLParser p("server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75", "", "UnnamedOption");
    p.setOption("Other", "x");
    EXPECT_EQ(p.asString("", "UnnamedOption").str(), "server:isdnmodem:Device=serial\\:COM1\\@115k,Protocol=X75");
}

TEST(UDLParser, KeysAreWrittenBackUnescaped) {
    UDLParser p;
    p.setProtocol("x");
    p.setTarget("t");
    p.setOption("a:b", "1");
    EXPECT_EQ(p.asString("", "").str(), "x:t:a:b=1");
    // A key with "@" is written as it stands too; the text then means something else.
    p.setOption("c@d", "2");
    Base::String text = p.asString("", "");
    EXPECT_EQ(text.str(), "x:t:a:b=1,c@d=2");
    UDLParser back(text, "k");
    EXPECT_EQ(back.getTarget().str(), "t:a:b=1,c");
    EXPECT_FALSE(back.hasOption("c@d"));
}

TEST(UDLParser, NestingThreeLevelsDeep) {
    // Each level of nesting escapes the inner locator once more.
    UDLParser inner;
    inner.setProtocol("serial");
    inner.setTarget("COM1");
    inner.setOption("baudrate", "9600");
    UDLParser middle;
    middle.setProtocol("modem");
    middle.setTarget(inner.asString("baudrate", ""));
    middle.setOption("Number", "1");
    UDLParser outer;
    outer.setProtocol("modem");
    outer.setTarget(middle.asString("at", ""));
    outer.setOption("Number", "2");
    Base::String text = outer.asString("at", "");
    EXPECT_EQ(text.str(), "modem:modem\\:serial\\\\:COM1\\\\@9600\\:Number=1:Number=2");

    UDLParser level1(text, "at");
    EXPECT_EQ(level1.getString("Number").str(), "2");
    EXPECT_EQ(level1.getTarget().str(), "modem:serial\\:COM1\\@9600:Number=1");
    UDLParser level2(level1.getTarget(), "at");
    EXPECT_EQ(level2.getString("Number").str(), "1");
    EXPECT_EQ(level2.getTarget().str(), "serial:COM1@9600");
    UDLParser level3(level2.getTarget(), "baudrate");
    EXPECT_EQ(level3.getProtocol().str(), "serial");
    EXPECT_EQ(level3.getTarget().str(), "COM1");
    EXPECT_EQ(level3.getString("baudrate").str(), "9600");
}

}  // namespace
