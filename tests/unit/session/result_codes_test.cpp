// The result table: the numbers hosts and download records rely on, and one name for each.
#include "session/result_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tr52 {
namespace {

TEST(ResultCodes, NumbersAndNamesHostsRelyOn) {
  struct Row {
    ResultCode code;
    int number;
    const char* name;
  };
  const Row rows[] = {
      {ResultCode::Ok, 0, "success"},
      {ResultCode::OpenPort, 6, "ZU3G_ERROR_OPEN_PORT"},
      {ResultCode::WrongBootMode, 8, "phone not in the booting mode the flow needs"},
      {ResultCode::Exception, 500, "download thread failed or download-mode time-out"},
      {ResultCode::NoPhone, 502, "no phone answered (No Phone)"},
      {ResultCode::SecurityCodeRefused, 508, "security code refused"},
      {ResultCode::NandWrite, 1010, "NandFlashWrite failed"},
      {ResultCode::NoImage, 1015, "ZU3G_ERROR_NO_IMAGE"},
      {ResultCode::RemoveModule, 2001, "ZU3G_ERROR_REMOVE_MODULE"},
      {ResultCode::ReadBackupFile, 3003, "ZU3G_ERROR_READ_BACKUP_FILE"},
      {ResultCode::AsyncWrite, 4010, "TYPE_LPARAM_UPGRADE_ERROR_WRITE_TO_FLASH"},
      {ResultCode::NoSuchFlow, 9001, "no such download flow"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ToInt(row.code), row.number);
    EXPECT_STREQ(ResultCodeName(row.code), row.name);
    EXPECT_STREQ(ResultCodeName(row.number), row.name);
  }
  for (int outside : {-1, 1, 7, 504, 4009, 65535})
    EXPECT_STREQ(ResultCodeName(outside), "unknown result");
}

TEST(ResultCodes, EveryRowIsOneCodeWithANameAndAMeaning) {
  std::set<int> numbers;
  std::set<std::string> names;
  for (const ResultCodeRow& row : kResultCodeTable) {
    EXPECT_TRUE(numbers.insert(ToInt(row.code)).second) << ToInt(row.code);
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_NE(std::string(row.meaning), "") << row.name;
    EXPECT_EQ(FindResultCode(ToInt(row.code)), &row);
  }
}

}  // namespace
}  // namespace tr52
