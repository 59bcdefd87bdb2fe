#include "printing/production_tickets.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/text.h"

#include "common/error_report.h"
#include "printing/pending_prints.h"
#include "printing/pre_bill.h"
#include "printing/print_layout.h"
#include "printing_fixture.h"

namespace orba::test {
namespace {

const std::string kSep = "=====================================";

class ProductionTicketsTest : public PrintingFixture {
 protected:
  ProductionTicketsTest() {
    Place(5, "MESA 5");
    Product(1, "101", "FILE COM FRITAS");
    Product(2, "55", "GELO");
    Product(3, "7", "CAIPIRINHA");
    Product(4, "900", "PAO DE QUEIJO");
    Printer(1, "COZINHA");
    Printer(2, "BAR");
    Link(1, 1);
    Link(2, 2);
    Link(2, 3);
  }

  bool Print(const std::string& sales, int type = 0, const PrinterSettings& settings = {}) {
    return PrintProductionTickets(context, sales, kPrintTitle, type, settings);
  }
};

TEST_F(ProductionTicketsTest, OneSaleTwoLineLayoutToTheCharacter) {
  Sale(1234);
  PlaceSale(5, 1234, 1);
  Item(1234, 1, 1, 2);
  Item(1234, 2, 2, 1, 0, 1);  // accompaniment of line 1, its product on the bar
  OptionText(7, "MAL PASSADO");
  Option(1234, 1, 7);

  ASSERT_TRUE(Print("1234"));
  ASSERT_EQ(printers.documents.size(), 1u);
  const auto& ticket = printers.documents[0];
  EXPECT_EQ(ticket.printer, "COZINHA");
  EXPECT_EQ(ticket.font_name, "Lucida Console");
  EXPECT_EQ(ticket.font_size, 12.0);
  const std::vector<std::string> expected = {
      " ",
      " ",
      kSep,
      "LOCAL: MESA 5/1                 01234",
      kSep,
      "DATA      :15/03/2024        12:30:00",
      "FILIAL    :CENTRO",
      "VENDEDOR  :JOAO GARCOM",
      "TIPO      :ORCAMENTO",
      "CLIENTE   :CONSUMIDOR FINAL",
      kSep,
      "PRODUTO                          QTDE",
      kSep,
      "FILE COM FRITAS",
      "  101" + Blanks(26) + "     2",
      "(*) MAL PASSADO",
      "(+) GELO",
      "   55" + Blanks(26) + "     1",
      kSep,
      "",
  };
  EXPECT_EQ(ticket.lines, expected);
  for (const auto& line : ticket.lines) EXPECT_LE(CharacterCount(line), 37u) << line;
  EXPECT_EQ(UnprintedCount(), "0");
  EXPECT_EQ(printers.current, "CAIXA");
  EXPECT_TRUE(db.op.messages.empty());
}

TEST_F(ProductionTicketsTest, ProductOnTwoPrintersPrintsOnBothAndIsMarkedOnce) {
  Link(2, 1);
  Sale(1);
  Item(1, 1, 1, 1);
  ASSERT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 2u);
  EXPECT_EQ(printers.documents[0].printer, "COZINHA");
  EXPECT_EQ(printers.documents[1].printer, "BAR");
  for (const auto& document : printers.documents) {
    EXPECT_EQ(Section(document.lines, "PRODUTO                          QTDE").front(), "FILE COM FRITAS");
  }
  EXPECT_EQ(PrintedFlag(1, 1), "S");
}

TEST_F(ProductionTicketsTest, ItemsWithoutPrinterGoTogetherToTheStartingPrinterLast) {
  Product(5, "66", "AGUA");
  Link(9, 4);  // a link to a printer that does not exist is no printer
  Sale(1);
  Item(1, 1, 4, 1);
  Item(1, 2, 1, 1);
  Item(1, 3, 5, 3);
  ASSERT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 2u);
  EXPECT_EQ(printers.documents[0].printer, "COZINHA");
  EXPECT_EQ(printers.documents[1].printer, "CAIXA");
  const auto rest = Section(printers.documents[1].lines, "PRODUTO                          QTDE");
  const std::vector<std::string> expected = {"PAO DE QUEIJO", "  900" + Blanks(26) + "     1", "AGUA",
                                             "   66" + Blanks(26) + "     3"};
  EXPECT_EQ(rest, expected);
  EXPECT_EQ(UnprintedCount(), "0");
  EXPECT_EQ(printers.current, "CAIXA");
}

TEST_F(ProductionTicketsTest, AllItemsOnOnePrinterLeaveTheStartingPrinterIdle) {
  Sale(1);
  Item(1, 1, 2, 1);
  Item(1, 2, 3, 2);
  ASSERT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 1u);
  EXPECT_EQ(printers.documents[0].printer, "BAR");
}

TEST_F(ProductionTicketsTest, SeveralSalesShowMultAndPositionsInTheCompactLayout) {
  for (long long sale : {21, 22, 23}) Sale(sale);
  PlaceSale(5, 21, 1);
  PlaceSale(5, 22, 2);
  PlaceSale(5, 23, 3);
  OptionText(7, "SEM CEBOLA E SEM TOMATE E SEM ALFACE");
  Item(23, 1, 1, 1);
  Item(21, 1, 1, 2);
  Item(21, 2, 2, 1, 0, 1);
  Item(22, 1, 4, 1);
  Item(22, 2, 2, 1, 0, 1);
  Option(21, 1, 7);
  ASSERT_TRUE(Print("21,22,23", 2));

  ASSERT_EQ(printers.documents.size(), 2u);
  const auto& kitchen = printers.documents[0];
  EXPECT_EQ(kitchen.printer, "COZINHA");
  EXPECT_EQ(kitchen.lines[3], "LOCAL: MESA 5                   MULT.");
  const std::vector<std::string> kitchen_items = {
      "01    101 FILE COM FRITAS           2",
      Blanks(10) + "(*) SEM CEBOLA E SEM ",
      "       55 (+) GELO                  1",
      "03    101 FILE COM FRITAS           1",
  };
  EXPECT_EQ(Section(kitchen.lines, "PS CODIGO PRODUTO                QTDE"), kitchen_items);

  const auto& counter = printers.documents[1];
  EXPECT_EQ(counter.printer, "CAIXA");
  const std::vector<std::string> counter_items = {
      "02    900 PAO DE QUEIJO             1",
      "02     55 (+) GELO                  1",
  };
  EXPECT_EQ(Section(counter.lines, "PS CODIGO PRODUTO                QTDE"), counter_items);
  EXPECT_EQ(UnprintedCount(), "0");
}

TEST_F(ProductionTicketsTest, SeveralSalesTwoLineLayoutKeepsOptionsAndAccompanimentsWithTheirOwnSale) {
  Sale(31);
  Sale(32);
  PlaceSale(5, 31, 1);
  PlaceSale(5, 32, 12);
  OptionText(7, "BEM PASSADO");
  OptionText(8, "AO PONTO");
  Item(31, 1, 1, 1);
  Item(32, 1, 1, 1);
  Item(32, 2, 2, 1, 0, 1);
  Option(31, 1, 7);
  Option(32, 1, 8);
  ASSERT_TRUE(Print("31,32"));
  ASSERT_EQ(printers.documents.size(), 1u);
  const std::vector<std::string> expected = {
      "FILE COM FRITAS",
      "01   101" + Blanks(23) + "     1",
      "   (*) BEM PASSADO",
      "FILE COM FRITAS",
      "12   101" + Blanks(23) + "     1",
      "   (*) AO PONTO",
      "   (+) GELO",
      "      55" + Blanks(23) + "     1",
  };
  EXPECT_EQ(Section(printers.documents[0].lines, "PS CODIGO                        QTDE"), expected);
}

TEST_F(ProductionTicketsTest, SaleNumberIsPaddedByPrinterAndTheMecafKeepsItsOwnFont) {
  db.Exec("UPDATE impressora SET nm_end_imp = 'Mecaf IT402T Pic' WHERE id_imp = 2");
  Sale(1234);
  Item(1234, 1, 1, 1);
  Item(1234, 2, 3, 1);
  ASSERT_TRUE(Print("1234"));
  ASSERT_EQ(printers.documents.size(), 2u);
  EXPECT_EQ(printers.documents[0].lines[3], Blanks(32) + "01234");
  const auto& mecaf = printers.documents[1];
  EXPECT_EQ(mecaf.printer, "Mecaf IT402T Pic");
  EXPECT_EQ(mecaf.font_name, "IT402TP Normal");
  EXPECT_FALSE(mecaf.font_size.has_value());
  EXPECT_EQ(mecaf.lines[0], kSep);
  EXPECT_EQ(mecaf.lines[1], Blanks(32) + " 1234");
}

TEST_F(ProductionTicketsTest, QuantitiesUseTheRegionalDecimalSeparator) {
  Sale(1);
  Item(1, 1, 1, 2);
  Item(1, 2, 1, 0.25);
  Item(1, 3, 1, 1.5);
  ASSERT_TRUE(Print("1", 2));
  const std::vector<std::string> expected = {
      "   101 FILE COM FRITAS              2",
      "   101 FILE COM FRITAS           0,25",
      "   101 FILE COM FRITAS            1,5",
  };
  EXPECT_EQ(Section(printers.documents.at(0).lines, "CODIGO PRODUTO                   QTDE"), expected);
}

TEST_F(ProductionTicketsTest, ASecondRequestPrintsNothingNew) {
  Sale(1);
  Item(1, 1, 1, 1);
  ASSERT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 1u);
  ASSERT_TRUE(Print("1"));
  EXPECT_EQ(printers.documents.size(), 1u);
  // A new line of the same sale prints alone.
  Item(1, 2, 3, 1);
  ASSERT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 2u);
  EXPECT_EQ(printers.documents[1].printer, "BAR");
  EXPECT_EQ(Section(printers.documents[1].lines, "PRODUTO                          QTDE").front(), "CAIPIRINHA");
}

TEST_F(ProductionTicketsTest, APrinterWithoutDeviceNameTurnsTheRequestIntoOnePreBill) {
  Printer(3, "");
  Sale(1);
  Item(1, 1, 1, 1);
  Item(1, 2, 3, 1);
  PrintAmounts amounts{5, 5};
  ASSERT_TRUE(PrintProductionTickets(context, "1", kPrintTitle, 0, {}, &amounts));
  ASSERT_EQ(printers.documents.size(), 1u);
  EXPECT_EQ(printers.documents[0].printer, "CAIXA");
  EXPECT_NE(std::find(printers.documents[0].lines.begin(), printers.documents[0].lines.end(),
                      "              OBRIGADO               "),
            printers.documents[0].lines.end());
  EXPECT_EQ(amounts.discount, 0);
  EXPECT_EQ(UnprintedCount(), "0");
}

TEST_F(ProductionTicketsTest, NoProductionPrinterPrintsAndMarksNothing) {
  db.Exec("DELETE FROM impressora");
  Sale(1);
  Item(1, 1, 1, 1);
  ASSERT_TRUE(Print("1"));
  EXPECT_TRUE(printers.documents.empty());
  EXPECT_EQ(PrintedFlag(1, 1), "N");
}

TEST_F(ProductionTicketsTest, ConfiguredCompaniesGetTheFeedOnPrinterTicketsOnly) {
  PrinterSettings settings;
  settings.feed_companies = {1};
  Sale(1);
  Item(1, 1, 1, 1);
  Item(1, 2, 4, 1);
  ASSERT_TRUE(Print("1", 0, settings));
  ASSERT_EQ(printers.documents.size(), 2u);
  const auto& kitchen = printers.documents[0].lines;
  ASSERT_GE(kitchen.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(kitchen.end() - 10, kitchen.end()),
            (std::vector<std::string>{kSep, "", " ", " ", " ", " ", " ", " ", " ", " "}));
  EXPECT_EQ(printers.documents[1].lines.back(), "");

  settings.feed_companies = {781};
  Item(1, 3, 1, 1);
  ASSERT_TRUE(Print("1", 0, settings));
  EXPECT_EQ(printers.documents.back().lines.back(), "");
}

TEST_F(ProductionTicketsTest, AFailingPrinterKeepsItsItemsForTheNextRequest) {
  Sale(1);
  Item(1, 1, 1, 1);     // kitchen
  Item(1, 2, 3, 1);     // bar
  Item(1, 3, 2, 1, 0, 2);  // accompaniment of the bar line
  Item(1, 4, 4, 1);     // no printer
  printers.failing_printers = {"BAR"};

  EXPECT_FALSE(Print("1"));
  EXPECT_EQ(PrintedFlag(1, 1), "S");
  EXPECT_EQ(PrintedFlag(1, 2), "N");
  EXPECT_EQ(PrintedFlag(1, 3), "N");
  EXPECT_EQ(PrintedFlag(1, 4), "S");
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].title, kErrorTitle);
  EXPECT_EQ(db.op.messages[0].text.rfind("Impressão dos tickets de produção     \r\nBAR: ", 0), 0u)
      << db.op.messages[0].text;
  EXPECT_EQ(printers.current, "CAIXA");

  printers.failing_printers.clear();
  printers.documents.clear();
  EXPECT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 1u);
  EXPECT_EQ(printers.documents[0].printer, "BAR");
  EXPECT_EQ(UnprintedCount(), "0");
}

TEST_F(ProductionTicketsTest, AnItemOnTwoPrintersStaysUnprintedWhenOneOfThemFails) {
  Link(2, 1);
  Sale(1);
  Item(1, 1, 1, 1);
  printers.failing_printers = {"BAR"};
  EXPECT_FALSE(Print("1"));
  EXPECT_EQ(PrintedFlag(1, 1), "N");
}

TEST_F(ProductionTicketsTest, EachPrinterPrintsEachLineOnceWhateverTheOtherDid) {
  Link(2, 1);  // the steak goes to the kitchen and the bar
  Sale(1);
  Item(1, 1, 1, 1);
  printers.failing_printers = {"COZINHA"};
  EXPECT_FALSE(Print("1"));
  EXPECT_EQ(printers.DocumentsOf("BAR").size(), 1u);
  EXPECT_EQ(PrintedFlag(1, 1), "N");  // the kitchen still owes it

  printers.failing_printers.clear();
  printers.documents.clear();
  EXPECT_TRUE(Print("1"));
  ASSERT_EQ(printers.documents.size(), 1u);
  EXPECT_EQ(printers.documents[0].printer, "COZINHA");
  EXPECT_EQ(PrintedFlag(1, 1), "S");
  EXPECT_EQ(db.Scalar("select count(*) from item_impressora_pda"), "0");
}

TEST_F(ProductionTicketsTest, PendingItemsOfTodaysOrdersPrintByThemselvesEachPrinterOnce) {
  parameters.BusinessDay = "15/03/2024";
  Sale(1);
  Item(1, 1, 1, 1);  // kitchen, left by an order
  Item(1, 2, 3, 1);  // bar, left by an order, already printed there
  Item(1, 3, 1, 1);  // written by the back office: never printed by the retry
  Sale(2);
  Item(2, 1, 1, 1);  // left by an order of another business day
  RecordPrintIntent(db.session, "15/03/2024", {{1, 1}, {1, 2}});
  RecordPrintIntent(db.session, "14/03/2024", {{2, 1}});
  db.Exec("INSERT INTO item_impressora_pda VALUES (1, 2, 2)");

  printers.failing_printers = {"COZINHA"};
  const PendingPrintOutcome failed = PrintPendingItems(context);
  EXPECT_TRUE(failed.printed.empty());
  EXPECT_EQ(failed.Describe().rfind("Itens pendentes não impressos: venda 1: COZINHA: ", 0), 0u) << failed.Describe();
  EXPECT_TRUE(db.op.messages.empty());  // a log line of the host, no message box
  EXPECT_TRUE(printers.documents.empty());

  printers.failing_printers.clear();
  const PendingPrintOutcome printed = PrintPendingItems(context);
  EXPECT_EQ(printed.Describe(), "Itens pendentes impressos (venda 1).");
  ASSERT_EQ(printers.documents.size(), 1u);
  EXPECT_EQ(printers.documents[0].printer, "COZINHA");
  EXPECT_EQ(std::count(printers.documents[0].lines.begin(), printers.documents[0].lines.end(), "FILE COM FRITAS"), 1);
  EXPECT_EQ(PrintedFlag(1, 1) + PrintedFlag(1, 2) + PrintedFlag(1, 3) + PrintedFlag(2, 1), "SSNN");
  EXPECT_EQ(db.Scalar("select group_concat(nr_orc_loc) from item_a_imprimir_pda"), "2");
  EXPECT_FALSE(PrintPendingItems(context).Attempted());
}

TEST_F(ProductionTicketsTest, AFailureHalfwayKeepsWhatWasPrintedAndTheStartingPrinter) {
  Sale(1);
  Item(1, 1, 1, 1);  // kitchen
  Item(1, 2, 3, 1);  // bar
  // Both tickets go out, but marking the bar's line printed fails, and so
  // does recording the bar's ticket on its own.
  if (db.OnServer()) {
    db.Exec("CREATE FUNCTION no_bar() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF NEW.id_imp = 2 THEN RAISE EXCEPTION 'disco cheio'; END IF; RETURN NEW; END $$;"
            "CREATE TRIGGER no_bar BEFORE INSERT ON item_impressora_pda FOR EACH ROW EXECUTE FUNCTION no_bar();"
            "CREATE FUNCTION no_mark() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF NEW.id_seq = 2 THEN RAISE EXCEPTION 'disco cheio'; END IF; RETURN NEW; END $$;"
            "CREATE TRIGGER no_mark BEFORE UPDATE ON item_venda_direta FOR EACH ROW EXECUTE FUNCTION no_mark()");
  } else {
    db.Exec("CREATE TRIGGER no_bar BEFORE INSERT ON item_impressora_pda WHEN NEW.id_imp = 2 "
            "BEGIN SELECT RAISE(ABORT, 'disco cheio'); END");
    db.Exec("CREATE TRIGGER no_mark BEFORE UPDATE ON item_venda_direta WHEN NEW.id_seq = 2 "
            "BEGIN SELECT RAISE(ABORT, 'disco cheio'); END");
  }
  EXPECT_FALSE(Print("1"));
  EXPECT_EQ(printers.current, "CAIXA");
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_NE(db.op.messages[0].text.find("disco cheio"), std::string::npos);

  db.Exec(db.OnServer() ? "DROP TRIGGER no_bar ON item_impressora_pda" : "DROP TRIGGER no_bar");
  db.Exec(db.OnServer() ? "DROP TRIGGER no_mark ON item_venda_direta" : "DROP TRIGGER no_mark");
  printers.documents.clear();
  EXPECT_TRUE(Print("1"));
  // The kitchen's ticket had reached its printer: it is not cooked twice.
  EXPECT_TRUE(printers.DocumentsOf("COZINHA").empty());
  EXPECT_EQ(UnprintedCount(), "0");
}

TEST_F(ProductionTicketsTest, StatementTextsNeverHoldASaleNumberOrADay) {
  Sale(48213);
  Sale(48214);
  Item(48213, 1, 1, 1);
  Item(48213, 2, 2, 1, 0, 1);
  Item(48214, 1, 4, 1);  // no printer: the starting printer
  OptionText(7, "SEM SAL");
  Option(48213, 1, 7);
  std::vector<std::string> texts;
  db.session.SetStatementObserver(
      [&](const std::string& text, const std::vector<Value>&) { texts.push_back(text); });
  RecordPrintIntent(db.session, "15/03/2024", {{48213, 1}, {48214, 1}});
  ASSERT_TRUE(Print("48213,48214"));
  ASSERT_TRUE(PrintPreBill(context, "48213,48214", kPrintTitle, 0));
  db.session.SetStatementObserver({});
  EXPECT_EQ(printers.documents.size(), 3u);
  EXPECT_EQ(UnprintedCount(), "0");
  EXPECT_EQ(db.Scalar("select count(*) from item_a_imprimir_pda"), "0");
  EXPECT_GT(texts.size(), 10u);
  for (const std::string& text : texts) {
    EXPECT_EQ(text.find("4821"), std::string::npos) << text;
    EXPECT_EQ(text.find("03/2024"), std::string::npos) << text;
  }
}

TEST_F(ProductionTicketsTest, AnUnsafeSaleListIsRefusedBeforeAnyStatement) {
  Sale(1);
  Item(1, 1, 1, 1);
  for (const std::string list : {"1) or (1=1", "1;DELETE FROM item_venda_direta", "1,,2", "1, x", "", "1,"}) {
    db.op.messages.clear();
    EXPECT_FALSE(Print(list)) << list;
    ASSERT_EQ(db.op.messages.size(), 1u) << list;
    EXPECT_NE(db.op.messages[0].text.find("Lista de vendas inválida"), std::string::npos);
  }
  EXPECT_TRUE(printers.documents.empty());
  EXPECT_EQ(PrintedFlag(1, 1), "N");
}

}  // namespace
}  // namespace orba::test
