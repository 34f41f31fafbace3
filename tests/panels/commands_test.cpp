// Command texts of the command pages, composed from box texts without a window.
#include "panels/commands.h"

#include <gtest/gtest.h>

#include <ostream>

namespace rd {
namespace {

struct Case {
    const char* button; // the button whose click sends this text
    const char* boxes;  // which box texts the row uses
    QString actual;
    QString expected;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.button << " with " << c.boxes;
}

void ExpectAll(const std::vector<Case>& table) {
    for (const Case& c : table)
        EXPECT_EQ(c.actual.toStdString(), c.expected.toStdString()) << c;
}

// Box texts as the 433 page starts.
const QString kMfr = QStringLiteral("EEEE");
const QString kSerial = QStringLiteral("FEDCBA01");

TEST(Commands433, ComposeFromBoxTexts) {
    using namespace cmd;
    ExpectAll({
        {"BitBtn433_SEND_COP_COLLECTION", "defaults", SendCopCollection("16", "48", "11", "3000"),
         "SEND_COP_COLLECTION 16 48 11 3000"},
        {"BitBtn433_SEND_COP_COLLECTION", "each box different", SendCopCollection("8", "32", "12", "2000"),
         "SEND_COP_COLLECTION 8 32 12 2000"},
        {"BitBtn433_SEND_COP_COLLECTION", "empty UDB type code", SendCopCollection("16", "48", "", "3000"),
         "SEND_COP_COLLECTION 16 48  3000"},
        {"BitBtn433_SEND_COP_SLEEP", "none", SendCopSleep(), "SEND_COP_SLEEP "},
        {"BitBtn433_impuls", "none", SendWakeUpImpuls(), "SEND_WAKE_UP_IMPULS 1"},
        {"BitBtnSEND_COP_READ_USER_ID", "defaults", SendCopReadUserId(kMfr, kSerial),
         "SEND_COP_READ_USER_ID EEEE FEDCBA01"},
        {"BitBtnSEND_COP_READ_USER_ID", "serial not among the items, lower case",
         SendCopReadUserId("eeee", "0badf00d"), "SEND_COP_READ_USER_ID eeee 0badf00d"},
        {"BitBtnSEND_COP_READ_USER_ID", "both empty", SendCopReadUserId("", ""), "SEND_COP_READ_USER_ID  "},
        {"BitBtnSEND_COP_RSSI_READ_USER_ID", "defaults", SendCopRssiReadUserId(kMfr, kSerial),
         "SEND_COP_RSSI_READ_USER_ID EEEE FEDCBA01"},
        {"BitBtnSEND_COP_RSSI_READ_USER_ID", "serial with blanks around",
         SendCopRssiReadUserId(kMfr, " FEDCBA09 "), "SEND_COP_RSSI_READ_USER_ID EEEE  FEDCBA09 "},
        {"BitBtnSEND_N_COP_READ_USER_ID", "defaults", SendNCopReadUserId(kMfr, kSerial, "10"),
         "SEND_N_COP_READ_USER_ID EEEE FEDCBA01 10"},
        {"BitBtnSEND_N_COP_READ_USER_ID", "empty count", SendNCopReadUserId(kMfr, "FEDCBA03", ""),
         "SEND_N_COP_READ_USER_ID EEEE FEDCBA03 "},
        {"BitBtnSEND_COP_WR_USER_ID", "defaults",
         SendCopWrUserId(kMfr, kSerial, "0C", "00 11 22 33 44 55 66 77 88 99 AA BB"),
         "SEND_COP_WR_USER_ID EEEE FEDCBA01 0C 00 11 22 33 44 55 66 77 88 99 AA BB"},
        {"BitBtnSEND_COP_WR_USER_ID", "length above the hint's maximum, inner double blank",
         SendCopWrUserId(kMfr, kSerial, "0F", "01  02"), "SEND_COP_WR_USER_ID EEEE FEDCBA01 0F 01  02"},
        {"BitBtn_util_SEND_COP_READ_MEMORY", "defaults", SendCopReadMemory(kMfr, kSerial, "10", "0"),
         "SEND_COP_READ_MEMORY EEEE FEDCBA01 10 0"},
        {"BitBtn_util_SEND_COP_READ_MEMORY", "length before address",
         SendCopReadMemory(kMfr, kSerial, "4", "1F"), "SEND_COP_READ_MEMORY EEEE FEDCBA01 4 1F"},
        {"BitBtn_util_SEND_COP_WR_MEMORY", "defaults",
         SendCopWrMemory(kMfr, kSerial, "10", "0", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"),
         "SEND_COP_WR_MEMORY EEEE FEDCBA01 10 0 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"},
        {"BitBtn_util_SEND_COP_WR_MEMORY", "empty data", SendCopWrMemory(kMfr, kSerial, "2", "8", ""),
         "SEND_COP_WR_MEMORY EEEE FEDCBA01 2 8 "},
        {"BitBtnLabPeriod250ms", "defaults", LoadPeriod(kMfr, kSerial, "4"),
         "SEND_COP_WR_MEMORY EEEE FEDCBA01 1 20 4"},
        {"BitBtnLabPeriod250ms", "empty period (the placeholder is not sent)", LoadPeriod(kMfr, kSerial, ""),
         "SEND_COP_WR_MEMORY EEEE FEDCBA01 1 20 "},
        {"BitBtnLabPeriod250ms", "other tag", LoadPeriod("ABCD", "FEDCBA04", "8"),
         "SEND_COP_WR_MEMORY ABCD FEDCBA04 1 20 8"},
    });
}

TEST(Commands900, ComposeFromBoxTexts) {
    using namespace cmd;
    ExpectAll({
        {"BitBtnEPC_INIT_LABEL", "defaults", KelmInitLabel("3008", "0000"), "KELM_INIT_LABEL 3008 0000"},
        {"BitBtnEPC_INIT_LABEL", "empty W2", KelmInitLabel("3008", ""), "KELM_INIT_LABEL 3008 "},
        {"BitBtn_KELM_WR_DATA_EPC", "defaults", KelmWrDataEpc("1", "0000"), "KELM_WR_DATA_EPC 1 0000"},
        {"BitBtn_KELM_WR_DATA_EPC", "inner blank in the word", KelmWrDataEpc("3", "AB CD"),
         "KELM_WR_DATA_EPC 3 AB CD"},
        {"BitBtn_KELM_WR_DATA_USER", "defaults", KelmWrDataUser("1", "0000"), "KELM_WR_DATA_USER 1 0000"},
        {"BitBtn_KELM_WR_DATA_USER", "address out of the items", KelmWrDataUser("9", "beef"),
         "KELM_WR_DATA_USER 9 beef"},
        {"BitBtn_KELM_RD_DATA_EPC", "none", KelmRdDataEpc(), "KELM_RD_DATA_EPC "},
        {"BitBtnKELM_RD_DATA_USER", "none", KelmRdDataUser(), "KELM_RD_DATA_USER "},
        {"BitBtnKELM_CURR_WR_DATA_EPC", "defaults", KelmCurrWrDataEpc("0001", "1", "1234"),
         "KELM_CURR_WR_DATA_EPC 0001 1 1234"},
        {"BitBtnKELM_CURR_WR_DATA_EPC", "M P W in order", KelmCurrWrDataEpc("0A0B", "2", "FFFF"),
         "KELM_CURR_WR_DATA_EPC 0A0B 2 FFFF"},
        {"BitBtnKELM_CURR_WR_DATA_USER", "defaults", KelmCurrWrDataUser("0001", "1", "1234"),
         "KELM_CURR_WR_DATA_USER 0001 1 1234"},
        {"BitBtnKELM_CURR_RD_DATA_EPC", "defaults", KelmCurrRdDataEpc("0001"), "KELM_CURR_RD_DATA_EPC 0001"},
        {"BitBtnKELM_CURR_RD_DATA_EPC", "empty M", KelmCurrRdDataEpc(""), "KELM_CURR_RD_DATA_EPC "},
        {"BitBtnKELM_CURR_RD_DATA_USER", "defaults", KelmCurrRdDataUser("0001"),
         "KELM_CURR_RD_DATA_USER 0001"},
        {"BitBtnEPC_INVENTORY_TIME", "defaults", KelmEpcInventoryTime("20", "5", "15"),
         "KELM_EPC_INVENTORY_TIME 20 5 15"},
        {"BitBtnEPC_INVENTORY_TIME", "edited", KelmEpcInventoryTime("7", "3", "100"),
         "KELM_EPC_INVENTORY_TIME 7 3 100"},
        {"BitBtnKELM_INVENTORY_STOP", "none", EpcStop(), "EPC_STOP"},
        {"BitBtn900_SET_ATT_OUT", "defaults", SetAttOut("10"), "SET_ATT_OUT 10"},
        {"BitBtn900_SET_ATT_OUT", "empty", SetAttOut(""), "SET_ATT_OUT "},
        {"BitBtn900_QUERY_ACK", "none", QueryAck(), "F_TST_EPC_0_QUERY_ACK "},
        {"BitBtn_900_POWER_ON", "none", PowerOn(), "POWER_ON "},
        {"BitBtn_900_POWER_OFF", "none", PowerOff(), "POWER_OFF "},
        {"BitBtnALPHA_INIT_LABEL", "defaults", AlphaInitLabel("3008", "2222", "3333"),
         "ALPHA_INIT_LABEL 3008 2222 3333"},
        {"BitBtnALPHA_INIT_LABEL", "empty W1, W3 with blanks", AlphaInitLabel("", "2222", " 3 4 "),
         "ALPHA_INIT_LABEL  2222  3 4 "},
    });
}

TEST(CommandsAlpha, IncrementedWordReadsLeadingHexAndWrapsAt32Bits) {
    const struct {
        const char* w3;
        const char* next;
    } table[] = {
        {"3333", "3334"},
        {"00ff", "0100"},          // lower case read, upper case written
        {"FFFF", "10000"},         // no wrap at four digits
        {"FFFFFFFF", "0000"},      // wrap at 32 bits
        {"", "0001"},              // nothing to read: 0
        {"12G4", "0013"},          // reading stops at "G"
        {" 1A", "0001"},           // a leading blank is not a digit
        {"7", "0008"},             // padded to four digits
        {"123456789", "12345679"}, // the ninth digit would carry beyond 32 bits
        {"0000FFFFFFFF", "0000"},  // leading zeros do not count against 32 bits
        {"abcdef01;", "ABCDEF02"}, // all six letters, stop at a punctuation mark
    };
    for (const auto& row : table) {
        EXPECT_EQ(cmd::IncrementedWord(QString::fromLatin1(row.w3)).toStdString(), row.next)
            << "W3 '" << row.w3 << "'";
    }
}

TEST(CommandsWiegand, FixedTexts) {
    using namespace cmd;
    ExpectAll({
        {"BitBtnWG_READER_A_ON", "none", WgReaderAOn(), "WG_A_POWER_ON"},
        {"BitBtnWG_READER_A_OFF", "none", WgReaderAOff(), "WG_A_POWER_OFF"},
        {"READER_B_ON", "none", WgReaderBOn(), "WG_B_POWER_ON"},
        {"READER_B_OFF", "none", WgReaderBOff(), "WG_B_POWER_OFF"},
        {"BitBtnWG_GetTime", "none", Ds1302GetDateTime(), "DS1302_GET_DATE_TIME"},
    });
}

TEST(CommandsWiegand, SetTimeHasSixTwoDigitFields) {
    const struct {
        QDateTime at;
        const char* expected;
    } table[] = {
        {QDateTime(QDate(2013, 3, 1), QTime(9, 5, 7)), "DS1302_SET_DATE_TIME 01 03 13 09 05 07"},
        {QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)), "DS1302_SET_DATE_TIME 31 12 99 23 59 59"},
        {QDateTime(QDate(2000, 1, 1), QTime(0, 0, 0)), "DS1302_SET_DATE_TIME 01 01 00 00 00 00"},
        {QDateTime(QDate(2012, 5, 18), QTime(9, 5, 7, 999)), "DS1302_SET_DATE_TIME 18 05 12 09 05 07"},
    };
    for (const auto& row : table)
        EXPECT_EQ(cmd::Ds1302SetDateTime(row.at).toStdString(), row.expected) << row.expected;
}

} // namespace
} // namespace rd
