#include "exchange/request_document.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/test_database.h"

namespace orba {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

bool Parses(const std::string& bytes) {
  pugi::xml_document document;
  std::string error;
  const bool parsed = ParseRequestDocument(bytes, document, error);
  EXPECT_EQ(parsed, error.empty()) << error;
  return parsed;
}

TEST(RequestDocument, OnlyCleanDocumentsWithOneElementAreServed) {
  const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const std::string refused[] = {
      "<local mesa=\"1\"/><local mesa=\"2\"/>",                       // two document elements
      "<local mesa=\"1\"/>texto",                                      // text beside it
      "<local mesa=\"1\" mesa=\"2\"/>",                                // repeated attribute
      "<a><pedido preco=\"1\" preco=\"2\"/></a>",                      // ... also further down
      "<local mesa=\"a<b\"/>",                                         // raw '<' in a value
      "<local mesa=\"a & b\"/>",                                       // bare '&'
      "<local mesa=\"a&nbsp;\"/>",                                     // not one of the five entities
      "<item preco=\"1&#0;00\"/>",                                     // NUL cutting a value short
      "<item preco=\"1&#x0;00\"/>",
      std::string("<local mesa=\"1\"/>\0\0", 20),                      // trailing NUL bytes
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><local mesa=\"\xE7\"/>",  // Latin-1 bytes said to be UTF-8
      "<!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>",                    // document type
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>",              // not in the encoding it names
      "",
      "<local mesa=\"1\"",
  };
  for (const std::string& bytes : refused) EXPECT_FALSE(Parses(bytes)) << bytes;

  const std::string served[] = {
      latin1 + "<local mesa=\"a\xE7\xE3o\" status=\"\"/>",
      "<?xml version=\"1.0\" encoding=\"ISO8859-1\"?><local mesa=\"\xE7\"/>",
      "<local mesa=\"a &amp; b &lt;&gt; &#233; &#xE9; a>b\"/>",
      "<!-- c --><pda><?pi x?><pedido mesa=\"1\"><![CDATA[<&>]]></pedido></pda>\r\n",
      "\xEF\xBB\xBF<local mesa=\"ação\"/>",
  };
  for (const std::string& bytes : served) EXPECT_TRUE(Parses(bytes)) << bytes;
}

TEST(RequestDocument, Utf16RequestIsAnsweredInUtf16) {
  // "<?xml version="1.0" encoding="UTF-16"?><local mesa="ç"/>" as UTF-16LE with its mark.
  const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><local mesa=\"\xE7\"/>";
  std::string bytes = "\xFF\xFE";
  for (const char c : text) {
    bytes += c;
    bytes += '\0';
  }
  pugi::xml_document document;
  std::string error;
  ASSERT_TRUE(ParseRequestDocument(bytes, document, error)) << error;
  EXPECT_EQ(std::string(document.child("local").attribute("mesa").value()), "ç");

  TempFolder folder;
  ASSERT_TRUE(SaveAnswerDocument(document, folder.path().string(), "STM1.Xml"));
  EXPECT_EQ(ReadFile(folder.path() / "STM1.Xml"), bytes);
}

TEST(RequestDocument, FoldersPipesAndHugeFilesAreNotRead) {
  TempFolder folder;
  pugi::xml_document document;
  std::string error;
  std::filesystem::create_directory(folder.path() / "STM1.Tmp");
  EXPECT_FALSE(LoadRequestDocument(folder.path().string(), "STM1.Tmp", document, error));
  EXPECT_NE(error.find("não é um arquivo comum"), std::string::npos) << error;

  ASSERT_EQ(mkfifo((folder.path() / "STM2.Tmp").c_str(), 0600), 0);
  EXPECT_FALSE(LoadRequestDocument(folder.path().string(), "STM2.Tmp", document, error));

  WriteFile(folder.path() / "STM3.Tmp", "<a b=\"" + std::string(kMaxRequestBytes, 'x') + "\"/>");
  EXPECT_FALSE(LoadRequestDocument(folder.path().string(), "STM3.Tmp", document, error));
  EXPECT_NE(error.find("grande demais"), std::string::npos) << error;

  WriteFile(folder.path() / "target.txt", "<local mesa=\"1\"/>");  // a link is never read through
  std::filesystem::create_symlink(folder.path() / "target.txt", folder.path() / "STM4.Tmp");
  EXPECT_FALSE(LoadRequestDocument(folder.path().string(), "STM4.Tmp", document, error));
  EXPECT_NE(error.find("link"), std::string::npos) << error;
}

}  // namespace
}  // namespace orba
