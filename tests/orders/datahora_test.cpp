#include "orders/datahora.h"
#include "support/datahora_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <pugixml.hpp>

#include "common/general_parameters.h"
#include "support/test_database.h"

namespace orba {
namespace {

using test::ReadDataHoraStamp;

namespace fs = std::filesystem;
using test::ReadFile;
using test::RecordingOperator;
using test::TempFolder;
using test::WriteFile;

class DataHoraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parameters.BaseFolder = base.prefix();
    fs::create_directories(base.path() / "xml" / "Fixos");
  }

  std::set<std::string> FilesUnderBase() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(base.path())) {
      if (!entry.is_directory()) names.insert(fs::relative(entry.path(), base.path()).string());
    }
    return names;
  }

  TempFolder base;
  GeneralParameters parameters;
  RecordingOperator op;
};

TEST_F(DataHoraTest, WritesFourLatin1LinesEndedByCrLf) {
  ASSERT_TRUE(WriteDataHoraFile(parameters, op, "12", "20261208143005"));
  EXPECT_EQ(ReadFile(base.path() / "xml/Fixos/DataHora_12.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n"
            "<Data_Hora>\r\n"
            "  <Header datahora=\"20261208143005\" versao=\"1.0\"/>\r\n"
            "</Data_Hora>\r\n");
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), "20261208143005");
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(DataHoraTest, WritingTwiceKeepsOneFileWithTheSecondStamp) {
  ASSERT_TRUE(WriteDataHoraFile(parameters, op, "12", "20261208143005"));
  ASSERT_TRUE(WriteDataHoraFile(parameters, op, "12", "20261208150000"));
  EXPECT_EQ(FilesUnderBase(), std::set<std::string>{"xml/Fixos/DataHora_12.xml"});
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), "20261208150000");
}

TEST_F(DataHoraTest, MissingFolderFailsWithMessageAndLeavesNothing) {
  fs::remove_all(base.path() / "xml");
  EXPECT_FALSE(WriteDataHoraFile(parameters, op, "12", "20261208143005"));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "Erro para montar arquivo de DataHora.     ");
  EXPECT_EQ(op.messages[0].title, "ORBA ");
  EXPECT_EQ(op.messages[0].icon, MessageIcon::Information);
  EXPECT_TRUE(FilesUnderBase().empty());
  EXPECT_FALSE(fs::exists(base.path() / "xml"));
}

TEST_F(DataHoraTest, FailedReplaceRemovesTheTemporaryFileAndKeepsNothingHalfWritten) {
  // Something that is not a file stands where the stamp file goes.
  fs::create_directories(base.path() / "xml/Fixos/DataHora_12.xml/keep");
  EXPECT_FALSE(WriteDataHoraFile(parameters, op, "12", "1"));
  EXPECT_EQ(op.messages.size(), 1u);
  EXPECT_FALSE(fs::exists(base.path() / "xml/Fixos/DataHora_12.tmp"));
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), std::nullopt);
}

TEST_F(DataHoraTest, OrdinaryNamesAreKeptAsTheyAre) {
  for (const std::string table : {"12", "Mesa 7", "VIP-2_b", "Mesa Ação", " 3 "}) {
    ASSERT_TRUE(WriteDataHoraFile(parameters, op, table, "S" + table));
    EXPECT_TRUE(fs::exists(base.path() / "xml/Fixos" / ("DataHora_" + table + ".xml"))) << table;
    EXPECT_EQ(ReadDataHoraStamp(parameters, table), "S" + table);
  }
}

TEST_F(DataHoraTest, UnsafeNamesStayInsideFixosAndNeverShareAFile) {
  const std::vector<std::string> tables = {"../../evil", "..", "a/b", "/etc/passwd", "x\\y", "line\nbreak",
                                           "tab\there", "a.b", "a%2Eb", "%41", "A", "*?:<>|\"", ""};
  fs::create_directories(base.path() / "a");  // a file "a/b" must not appear there
  std::set<std::string> keys;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    ASSERT_TRUE(WriteDataHoraFile(parameters, op, tables[i], std::to_string(i))) << tables[i];
    keys.insert(DataHoraFileKey(tables[i]));
  }
  EXPECT_EQ(keys.size(), tables.size());
  for (std::size_t i = 0; i < tables.size(); ++i) {
    EXPECT_EQ(ReadDataHoraStamp(parameters, tables[i]), std::to_string(i)) << tables[i];
  }
  for (const std::string& name : FilesUnderBase()) {
    EXPECT_EQ(name.rfind("xml/Fixos/DataHora_", 0), 0u) << name;
    EXPECT_EQ(name.find('/', std::string("xml/Fixos/").size()), std::string::npos) << name;
  }
  EXPECT_EQ(FilesUnderBase().size(), tables.size());
  EXPECT_EQ(DataHoraFileKey("../x"), "%2E%2E%2Fx");
  EXPECT_EQ(DataHoraFileKey("100%"), "100%25");
}

TEST_F(DataHoraTest, StampWithMarkupCharactersGivesAWellFormedFile) {
  const std::string stamp = "2026<12>&\"08\" 'x' ação\ttab";
  ASSERT_TRUE(WriteDataHoraFile(parameters, op, "5", stamp));
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file((base.path() / "xml/Fixos/DataHora_5.xml").c_str()));
  EXPECT_EQ(ReadDataHoraStamp(parameters, "5"), stamp);
  const std::string bytes = ReadFile(base.path() / "xml/Fixos/DataHora_5.xml");
  EXPECT_NE(bytes.find("a\xE7\xE3o"), std::string::npos) << "accents as ISO-8859-1 bytes";
}

TEST_F(DataHoraTest, ReadingWithoutAUsableFileGivesNothing) {
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), std::nullopt);
  WriteFile(base.path() / "xml/Fixos/DataHora_12.xml", "<Data_Hora><Header datahora=");
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), std::nullopt);
  WriteFile(base.path() / "xml/Fixos/DataHora_12.xml", "<Data_Hora><Header versao=\"1.0\"/></Data_Hora>");
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), std::nullopt);
  WriteFile(base.path() / "xml/Fixos/DataHora_12.xml", "<Data_Hora><Header datahora=\"\"/></Data_Hora>");
  EXPECT_EQ(ReadDataHoraStamp(parameters, "12"), "");
}

}  // namespace
}  // namespace orba
