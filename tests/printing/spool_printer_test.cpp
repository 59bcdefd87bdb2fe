#include "printing/spool_printer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "printing/production_tickets.h"
#include "printing/routing.h"
#include "printing_fixture.h"

namespace orba::test {
namespace {

namespace fs = std::filesystem;

class SpoolPrinterTest : public ::testing::Test {
 protected:
  SpoolPrinterTest() {
    for (const char* name : {"CAIXA", "COZINHA", "Mecaf IT402T Pic"}) fs::create_directories(spool.path() / name);
  }
  TempFolder spool;
};

TEST_F(SpoolPrinterTest, FoldersArePrintersAndTheDefaultIsNamedInItsFile) {
  SpoolPrinterSystem printers(spool.path().string());
  EXPECT_EQ(printers.InstalledPrinters(), (std::vector<std::string>{"CAIXA", "COZINHA", "Mecaf IT402T Pic"}));
  EXPECT_EQ(printers.CurrentPrinter(), "CAIXA");
  WriteFile(spool.path() / "default", "COZINHA\r\nCAIXA\n");
  EXPECT_EQ(printers.CurrentPrinter(), "COZINHA");
  WriteFile(spool.path() / "default", "NENHUMA\n");
  EXPECT_EQ(printers.CurrentPrinter(), "CAIXA");
}

TEST_F(SpoolPrinterTest, EachDocumentIsTheNextNumberedFileWithItsFontLogged) {
  SpoolPrinterSystem printers(spool.path().string());
  printers.SetFont("Lucida Console", 12);
  printers.PrintLine("AÇÃO 1");
  printers.PrintLine("");
  printers.EndDocument();
  printers.PrintLine("segundo");
  printers.EndDocument();
  printers.MakeCurrent("Mecaf IT402T Pic");
  printers.SetFont("IT402TP Normal", std::nullopt);
  printers.PrintLine("x");
  printers.EndDocument();

  EXPECT_EQ(ReadFile(spool.path() / "CAIXA" / "000001.txt"), "AÇÃO 1\n\n");
  EXPECT_EQ(ReadFile(spool.path() / "CAIXA" / "000002.txt"), "segundo\n");
  EXPECT_EQ(ReadFile(spool.path() / "Mecaf IT402T Pic" / "000001.txt"), "x\n");
  EXPECT_EQ(ReadFile(spool.path() / "fonts.log"),
            "CAIXA/000001.txt\tLucida Console\t12\n"
            "CAIXA/000002.txt\tLucida Console\t12\n"
            "Mecaf IT402T Pic/000001.txt\tIT402TP Normal\t\n");
}

TEST_F(SpoolPrinterTest, NumberingGoesOnAfterTheHighestFileAndPastSixDigits) {
  WriteFile(spool.path() / "CAIXA" / "000009.txt", "");
  WriteFile(spool.path() / "COZINHA" / "999999.txt", "");
  SpoolPrinterSystem printers(spool.path().string());
  printers.PrintLine("a");
  printers.EndDocument();
  EXPECT_TRUE(fs::exists(spool.path() / "CAIXA" / "000010.txt"));
  printers.MakeCurrent("COZINHA");
  printers.PrintLine("b");
  printers.EndDocument();
  printers.PrintLine("c");
  printers.EndDocument();
  EXPECT_EQ(ReadFile(spool.path() / "COZINHA" / "1000000.txt"), "b\n");
  EXPECT_EQ(ReadFile(spool.path() / "COZINHA" / "1000001.txt"), "c\n");
  // Documents taken away by the device do not bring a number back; one
  // written there meanwhile is stepped over.
  fs::remove(spool.path() / "COZINHA" / "1000001.txt");
  WriteFile(spool.path() / "COZINHA" / "1000002.txt", "alheio");
  printers.PrintLine("d");
  printers.EndDocument();
  EXPECT_EQ(ReadFile(spool.path() / "COZINHA" / "1000002.txt"), "alheio");
  EXPECT_EQ(ReadFile(spool.path() / "COZINHA" / "1000003.txt"), "d\n");
  EXPECT_FALSE(fs::exists(spool.path() / "COZINHA" / "1000001.txt"));
}

TEST_F(SpoolPrinterTest, NoLinkPlantedInTheSpoolIsEverFollowed) {
  TempFolder outside;
  WriteFile(outside.path() / "shadow", "secret\n");
  fs::create_symlink(outside.path() / "shadow", spool.path() / "fonts.log");
  SpoolPrinterSystem printers(spool.path().string());
  printers.MakeCurrent("CAIXA");
  printers.PrintLine("TICKET");
  printers.EndDocument();
  EXPECT_EQ(ReadFile(outside.path() / "shadow"), "secret\n");
  EXPECT_EQ(ReadFile(spool.path() / "CAIXA/000001.txt"), "TICKET\n");

  // A printer folder that is a link is no printer, and nothing goes through it.
  fs::create_directory_symlink(outside.path(), spool.path() / "LINKED");
  EXPECT_EQ(printers.InstalledPrinters(), (std::vector<std::string>{"CAIXA", "COZINHA", "Mecaf IT402T Pic"}));
  printers.MakeCurrent("LINKED");
  printers.PrintLine("TICKET");
  EXPECT_THROW(printers.EndDocument(), std::runtime_error);
  EXPECT_FALSE(fs::exists(outside.path() / "000001.txt"));
}

TEST_F(SpoolPrinterTest, APrinterThatIsGoneRefusesTheDocumentAndDropsItsLines) {
  SpoolPrinterSystem printers(spool.path().string());
  printers.MakeCurrent("COZINHA");
  fs::remove_all(spool.path() / "COZINHA");
  printers.PrintLine("perdido?");
  EXPECT_THROW(printers.EndDocument(), std::runtime_error);
  printers.MakeCurrent("CAIXA");
  printers.PrintLine("novo");
  printers.EndDocument();
  EXPECT_EQ(ReadFile(spool.path() / "CAIXA" / "000001.txt"), "novo\n");
}

class SpoolTicketsTest : public PrintingFixture {
 protected:
  TempFolder spool;
};

TEST_F(SpoolTicketsTest, ProductionTicketsReachThePrinterFoldersAsUtf8Lines) {
  for (const char* name : {"CAIXA", "COZINHA"}) fs::create_directories(spool.path() / name);
  SpoolPrinterSystem spool_printers(spool.path().string());
  Context spool_context{parameters, db.session, db.op, clock, polling, customer, spool_printers};
  Product(1, "101", "FILÉ À PARMEGIANA");
  Product(2, "66", "ÁGUA");
  Printer(1, "COZINHA");
  Link(1, 1);
  Sale(42);
  Item(42, 1, 1, 1);
  Item(42, 2, 2, 2);

  ASSERT_TRUE(RouteOrderPrinting(spool_context, "42"));
  const std::string sep = "=====================================\n";
  const std::string header = " \n \n" + sep + std::string(32, ' ') + "00042\n" + sep +
                             "DATA      :15/03/2024        12:30:00\n"
                             "FILIAL    :CENTRO\n"
                             "VENDEDOR  :JOAO GARCOM\n"
                             "TIPO      :ORCAMENTO\n"
                             "CLIENTE   :CONSUMIDOR FINAL\n" +
                             sep + "PRODUTO                          QTDE\n" + sep;
  EXPECT_EQ(ReadFile(spool.path() / "COZINHA" / "000001.txt"),
            header + "FILÉ À PARMEGIANA\n  101" + std::string(26, ' ') + "     1\n" + sep + "\n");
  EXPECT_EQ(ReadFile(spool.path() / "CAIXA" / "000001.txt"),
            header + "ÁGUA\n   66" + std::string(26, ' ') + "     2\n" + sep + "\n");
  EXPECT_EQ(ReadFile(spool.path() / "fonts.log"),
            "COZINHA/000001.txt\tLucida Console\t12\nCAIXA/000001.txt\tLucida Console\t12\n");
  EXPECT_EQ(UnprintedCount(), "0");
  EXPECT_EQ(spool_printers.CurrentPrinter(), "CAIXA");
}

}  // namespace
}  // namespace orba::test
