#include "printing/routing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "common/error_report.h"
#include "printing_fixture.h"

namespace orba::test {
namespace {

const std::string kPreBillTotal = "Valor da Venda ";

class RoutingTest : public PrintingFixture {
 protected:
  RoutingTest() {
    Product(1, "101", "FILE COM FRITAS");
    Sale(1);
    Sale(2, "12:40:00");
    Item(1, 1, 1, 1);
    Item(2, 1, 1, 2);
  }

  static bool IsTicket(const RecordingPrinter::Document& d) {
    return std::any_of(d.lines.begin(), d.lines.end(),
                       [](const std::string& line) { return line.rfind("PS CODIGO ", 0) == 0; });
  }
  static bool IsPreBill(const RecordingPrinter::Document& d) {
    return std::any_of(d.lines.begin(), d.lines.end(),
                       [](const std::string& line) { return line.rfind(kPreBillTotal, 0) == 0; });
  }
};

TEST_F(RoutingTest, PrinterTypeComesFromOrbaIniEveryTime) {
  EXPECT_EQ(ReadPrinterType(parameters.SystemFolder), "0");
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"2\"/>");
  EXPECT_EQ(ReadPrinterType(parameters.SystemFolder), "2");
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"\"/>");
  EXPECT_EQ(ReadPrinterType(parameters.SystemFolder), "0");
  WriteConfiguration("<IMPRESSORA/>");
  EXPECT_EQ(ReadPrinterType(parameters.SystemFolder), "0");
  WriteConfiguration("<OUTRA><IMPRESSORA TP_IMPR=\"1\"/></OUTRA>");  // only a child of the document element counts
  EXPECT_EQ(ReadPrinterType(parameters.SystemFolder), "0");
  EXPECT_THROW(ReadPrinterType(parameters.SystemFolder + "nowhere/"), std::runtime_error);

  EXPECT_EQ(PrinterTypeNumber("2"), 2);
  EXPECT_THROW(PrinterTypeNumber("dois"), std::runtime_error);
  EXPECT_THROW(PrinterTypeNumber("70000"), std::runtime_error);
}

TEST_F(RoutingTest, InstallerSettingsOfTheImpressoraElement) {
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"0\" EMP_AVANCO=\" 12, x,781 \" DT_EXPEDIR=\"s\"/>");
  const PrinterSettings settings = ReadPrinterSettings(parameters.SystemFolder);
  EXPECT_EQ(settings.feed_companies, (std::vector<long long>{12, 781}));
  EXPECT_TRUE(settings.FeedsPaper(781));
  EXPECT_FALSE(settings.FeedsPaper(0));
  EXPECT_TRUE(settings.dispatch_lines);
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"0\"/>");
  const PrinterSettings plain = ReadPrinterSettings(parameters.SystemFolder);
  EXPECT_TRUE(plain.feed_companies.empty());
  EXPECT_FALSE(plain.dispatch_lines);
}

TEST_F(RoutingTest, SelectPrinterTakesTheFirstExactMatchOnly) {
  RecordingPrinter local{{"COZINHA", "BAR", "COZINHA"}, "BAR"};
  EXPECT_FALSE(SelectPrinter(local, "cozinha"));
  EXPECT_FALSE(SelectPrinter(local, "COZINHA "));
  EXPECT_EQ(local.current, "BAR");
  EXPECT_EQ(local.make_current_calls, 0);
  EXPECT_TRUE(SelectPrinter(local, "COZINHA"));
  EXPECT_EQ(local.current, "COZINHA");
  EXPECT_EQ(local.make_current_calls, 1);

  RecordingPrinter none;
  EXPECT_FALSE(SelectPrinter(none, "COZINHA"));
  EXPECT_EQ(none.current, "");
}

TEST_F(RoutingTest, DecisionTableAfterAnOrder) {
  struct Case {
    bool printers_exist;
    std::string type;
    std::string pre_bill_switch;
    int tickets;
    int pre_bills;
  };
  const Case cases[] = {
      {true, "0", "", 1, 0},  {true, "2", "S", 1, 0}, {true, "7", "N", 1, 0},
      {true, "1", "S", 0, 0}, {true, "1", "", 0, 0},  {false, "1", "S", 0, 1},
      {false, "0", "S", 0, 1}, {false, "2", "", 0, 0}, {false, "0", "N", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("printers " + std::to_string(c.printers_exist) + " TP_IMPR " + c.type + " ic_imp_orc '" +
                 c.pre_bill_switch + "'");
    db.Exec("DELETE FROM impressora; DELETE FROM impressora_produto; UPDATE item_venda_direta SET id_prt_ite = 'N'");
    if (c.printers_exist) {
      Printer(1, "COZINHA");
      Link(1, 1);
    }
    db.Exec("UPDATE parametro_geral SET ic_imp_orc = '" + c.pre_bill_switch + "'");
    WriteConfiguration("<IMPRESSORA TP_IMPR=\"" + c.type + "\"/>");
    printers.documents.clear();

    EXPECT_TRUE(RouteOrderPrinting(context, "1,2"));
    EXPECT_EQ(std::count_if(printers.documents.begin(), printers.documents.end(), IsTicket), c.tickets);
    EXPECT_EQ(std::count_if(printers.documents.begin(), printers.documents.end(), IsPreBill), c.pre_bills);
    EXPECT_EQ(printers.documents.size(), static_cast<std::size_t>(c.tickets + c.pre_bills));
    if (c.pre_bills == 1) {
      const auto& lines = printers.documents[0].lines;
      EXPECT_NE(std::find(lines.begin(), lines.end(), "TIPO      :ORCAMENTO"), lines.end());
      EXPECT_EQ(lines[5].substr(32), "MULT.");
    }
    EXPECT_EQ(UnprintedCount(), c.tickets > 0 ? "0" : "2");
  }
  EXPECT_TRUE(db.op.messages.empty());
}

TEST_F(RoutingTest, PreBillLayoutFollowsTheTypeOfOrbaIni) {
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"2\"/>");
  ASSERT_TRUE(PrintDocument(context, "1", "", kPrintTitle));
  const auto& lines = printers.documents.at(0).lines;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "PRODUTO          QTDE VLR UN.   VALOR"), lines.end());
}

TEST_F(RoutingTest, AnOrderWithoutSalesPrintsNothing) {
  Printer(1, "COZINHA");
  Link(1, 1);
  EXPECT_TRUE(RouteOrderPrinting(context, ""));
  EXPECT_TRUE(printers.documents.empty());
  EXPECT_TRUE(db.op.messages.empty());
}

TEST_F(RoutingTest, UnsafeSaleListFailsBeforeAnyStatement) {
  Printer(1, "COZINHA");
  Link(1, 1);
  for (const std::string list : {"1) OR (1=1", "1,2;DROP TABLE produto", "1 2"}) {
    db.op.messages.clear();
    EXPECT_FALSE(RouteOrderPrinting(context, list)) << list;
    EXPECT_FALSE(PrintDocument(context, list, "", kPrintTitle)) << list;
    ASSERT_EQ(db.op.messages.size(), 2u);
    EXPECT_EQ(db.op.messages[0].text.rfind("Impressão do pedido     \r\nLista de vendas inválida", 0), 0u);
  }
  EXPECT_TRUE(printers.documents.empty());
  EXPECT_EQ(UnprintedCount(), "2");
  EXPECT_EQ(db.Scalar("SELECT count(*) FROM produto"), "1");
}

TEST_F(RoutingTest, BrokenConfigurationFailsTheRequestWithAMessage) {
  Printer(1, "COZINHA");
  Link(1, 1);
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"duas\"/>");
  EXPECT_FALSE(RouteOrderPrinting(context, "1"));
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].title, kErrorTitle);
  std::filesystem::remove(folder.path() / "ORBA.INI");
  EXPECT_FALSE(RouteOrderPrinting(context, "1"));
  EXPECT_TRUE(printers.documents.empty());
  EXPECT_EQ(UnprintedCount(), "2");
}

TEST_F(RoutingTest, APrinterThatCannotPrintNeverLosesTheOrder) {
  Printer(1, "COZINHA");
  Link(1, 1);
  printers.failing_printers = {"COZINHA"};
  EXPECT_FALSE(RouteOrderPrinting(context, "1,2"));
  EXPECT_EQ(UnprintedCount(), "2");
  EXPECT_EQ(printers.failed_documents.size(), 1u);
  EXPECT_EQ(db.op.messages.size(), 1u);

  // The next order of the table brings them out.
  printers.failing_printers.clear();
  EXPECT_TRUE(RouteOrderPrinting(context, "1,2"));
  ASSERT_EQ(printers.documents.size(), 1u);
  EXPECT_EQ(Section(printers.documents[0].lines, "PS CODIGO                        QTDE").size(), 4u);
  EXPECT_EQ(UnprintedCount(), "0");
}

}  // namespace
}  // namespace orba::test
