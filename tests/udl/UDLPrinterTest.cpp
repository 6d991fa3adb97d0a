#include <varonet/udl/UDLPrinter.h>

#include <gtest/gtest.h>

namespace {

class UDLPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        mTexts.setText(1289, Base::Translator::English, "P");
        mTexts.setText(1320, Base::Translator::English, "T");
        mTexts.setText(1085, Base::Translator::English, "N");
        mTexts.setText(1086, Base::Translator::English, "Connect time-out");
        mTexts.setText(1182, Base::Translator::English, "ms");
        mTexts.setText(1210, Base::Translator::English, "Redial wait");
        mTexts.setText(1183, Base::Translator::German, "s");  // only in German
        mTexts.setText(1085, Base::Translator::German, "Nummer");
    }
    Base::String print(const char* locator, Base::Translator::ELanguage language = Base::Translator::English) {
        UDL::UDLPrinter printer(&mTexts, language);
        ::testing::internal::CaptureStderr();
        Base::String out = printer.print(locator);
        msTrace = ::testing::internal::GetCapturedStderr();
        return out;
    }
    Base::TableTranslator mTexts;
    std::string msTrace;
};

TEST_F(UDLPrinterTest, NestedModemLocator) {
    EXPECT_EQ(print("modem:serial\\:COM1\\@9600:Number=555").str(),
              "P:\\#modem\n"
              "T:\\#\\h\n"
              "  P:\\#serial\n"
              "  T:\\#COM1\n"
              "  Baudrate:\\#9600\n"
              "N:\\#555\n");
    // One trace line per locator parsed: the outer one, the nested one and the plain target.
    EXPECT_EQ(msTrace, "UDL : 'modem:serial\\:COM1\\@9600:Number=555'\nUDL : 'serial:COM1@9600'\nUDL : 'COM1'\n");
}

TEST_F(UDLPrinterTest, TextWithoutColonComesBackUnchangedAndStdioHasTwoLines) {
    EXPECT_EQ(print("just words").str(), "just words");
    EXPECT_EQ(msTrace, "UDL : 'just words'\n");
    EXPECT_EQ(print("stdio:").str(), "P:\\#stdio\nT:\\#\n");
}

TEST_F(UDLPrinterTest, UnitsEmptyValuesAndMissingTexts) {
    EXPECT_EQ(print("tcpip:h:ConnectTimeout=5000,Empty=,RedialWaitingTime=3").str(),
              "P:\\#tcpip\n"
              "T:\\#h\n"
              "Connect time-out ms:\\#5000\n"
              "Empty:\\#\n"
              "Redial wait:\\#3\n");  // no unit text for it in English
    EXPECT_EQ(print("x:y:Number=1,RedialWaitingTime=3", Base::Translator::German).str(),
              "P:\\#x\nT:\\#y\nNummer:\\#1\nRedial wait s:\\#3\n");  // labels fall back to English
}

TEST_F(UDLPrinterTest, MissingLabelsShowPlaceholders) {
    Base::TableTranslator empty;
    UDL::UDLPrinter printer(&empty, Base::Translator::English);
    ::testing::internal::CaptureStderr();
    Base::String out = printer.print("serial:COM1@9600");
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.str(), "<..>:\\#serial\n<..>:\\#COM1\nBaudrate:\\#9600\n");
}

TEST_F(UDLPrinterTest, NestedLocatorWithoutOptionsLeavesAnEmptyLine) {
    EXPECT_EQ(print("modem:serial\\:COM1:Number=1").str(),
              "P:\\#modem\nT:\\#\\h\n  P:\\#serial\n  T:\\#COM1\n\nN:\\#1\n");
}

}  // namespace
