// The locator printer: nested locators, trace lines, units and missing texts.
#include <varonet/udl/UDLPrinter.h>

#include <gtest/gtest.h>

namespace {

// Prints with a translator that knows a few texts (some only in German); the trace lines are kept.
std::string print(const char* locator, Base::Translator::ELanguage language = Base::Translator::English,
                  bool withTexts = true, std::string* trace = nullptr) {
    Base::TableTranslator texts;
    const std::pair<int, const char*> english[] = {
        {1289, "P"}, {1320, "T"}, {1085, "N"}, {1086, "Connect time-out"}, {1182, "ms"}, {1210, "Redial wait"}};
    for (const auto& [number, text] : english)
        if (withTexts) texts.setText(number, Base::Translator::English, text);
    texts.setText(1183, Base::Translator::German, "s");
    texts.setText(1085, Base::Translator::German, "Nummer");
    UDL::UDLPrinter printer(&texts, language);
    ::testing::internal::CaptureStderr();
    std::string out = printer.print(locator).str();
    std::string lines = ::testing::internal::GetCapturedStderr();
    if (trace) *trace = lines;
    return out;
}

}  // namespace

TEST(UDLPrinter, NestedLocatorsWithTraceLines) {
    std::string trace;
    EXPECT_EQ(print("modem:serial\\:COM1\\@9600:Number=555", Base::Translator::English, true, &trace),
              "P:\\#modem\nT:\\#\\h\n  P:\\#serial\n  T:\\#COM1\n  Baudrate:\\#9600\nN:\\#555\n");
    // One trace line per locator parsed: the outer one, the nested one and the plain target.
    EXPECT_EQ(trace, "UDL : 'modem:serial\\:COM1\\@9600:Number=555'\nUDL : 'serial:COM1@9600'\nUDL : 'COM1'\n");
    EXPECT_EQ(print("modem:serial\\:COM1:Number=1"), "P:\\#modem\nT:\\#\\h\n  P:\\#serial\n  T:\\#COM1\n\nN:\\#1\n")
        << "a nested locator without options leaves an empty line";
    EXPECT_EQ(print("just words", Base::Translator::English, true, &trace), "just words");
    EXPECT_EQ(trace, "UDL : 'just words'\n");
    EXPECT_EQ(print("stdio:"), "P:\\#stdio\nT:\\#\n");
    EXPECT_EQ(print("tcpip:[::1]:Port=7000"), "P:\\#tcpip\nT:\\#[::1]\nPort:\\#7000\n") << "an IPv6 host is no locator";
}

TEST(UDLPrinter, UnitsEmptyValuesAndMissingTexts) {
    EXPECT_EQ(
        print("tcpip:h:ConnectTimeout=5000,Empty=,RedialWaitingTime=3"),
        "P:\\#tcpip\nT:\\#h\nConnect time-out ms:\\#5000\nEmpty:\\#\nRedial wait:\\#3\n");  // no English unit for it
    EXPECT_EQ(print("x:y:Number=1,RedialWaitingTime=3", Base::Translator::German),
              "P:\\#x\nT:\\#y\nNummer:\\#1\nRedial wait s:\\#3\n");  // labels fall back to English
    EXPECT_EQ(print("serial:COM1@9600", Base::Translator::English, false),
              "<..>:\\#serial\n<..>:\\#COM1\nBaudrate:\\#9600\n");
}
