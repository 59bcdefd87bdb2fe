#include "printing/pre_bill.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/error_report.h"
#include "printing/print_layout.h"
#include "printing_fixture.h"

namespace orba::test {
namespace {

const std::string kSep = "=====================================";
const std::string kTwoLineHeading = "CODIGO  QTD  X  VALOR UN.     VALOR  ";
const std::string kCompactHeading = "PRODUTO          QTDE VLR UN.   VALOR";

// ASCII alignment, as the layouts define it.
std::string R(const std::string& value, std::size_t n) {
  const std::string padded = std::string(n, ' ') + value;
  return padded.substr(padded.size() - n);
}
std::string L(const std::string& value, std::size_t n) { return (value + std::string(n, ' ')).substr(0, n); }

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines from `first` up to the end.
std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first) {
  auto it = std::find(lines.begin(), lines.end(), first);
  return std::vector<std::string>(it, lines.end());
}

class PreBillTest : public PrintingFixture {
 protected:
  PreBillTest() {
    Place(5, "MESA 5");
    Product(1, "101", "FILE COM FRITAS");
    Product(2, "55", "GELO");
    Product(4, "900", "PAO DE QUEIJO");
  }

  const std::vector<std::string>& PrintOne(const std::string& sales, int type = 0,
                                           const PrinterSettings& settings = {}) {
    EXPECT_TRUE(PrintPreBill(context, sales, kPrintTitle, type, settings));
    EXPECT_EQ(printers.documents.size(), 1u);
    static const std::vector<std::string> none;
    return printers.documents.empty() ? none : printers.documents.back().lines;
  }
};

TEST_F(PreBillTest, OneSaleTwoLineLayoutToTheCharacter) {
  Sale(77);
  PlaceSale(5, 77, 2);
  Item(77, 1, 1, 2, 35.5);
  Item(77, 2, 2, 1, 0, 1);
  Item(77, 3, 4, 1.5, 1234.5);
  OptionText(7, "MAL PASSADO");
  Option(77, 1, 7);
  Option(77, 2, 7);  // options of an accompaniment are not printed

  const auto& lines = PrintOne("77");
  const std::vector<std::string> expected = {
      " ",
      " ",
      kSep,
      std::string(14, ' ') + "BAR DO ZE",
      kSep,
      "LOCAL: MESA 5/2" + std::string(20, ' ') + "77",
      kSep,
      "FILIAL    :CENTRO",
      "DATA      :15/03/2024        12:30:00",
      "VENDEDOR  :JOAO GARCOM",
      "TIPO      :ORCAMENTO",
      "CLIENTE   :CONSUMIDOR FINAL",
      kSep,
      kTwoLineHeading,
      kSep,
      "FILE COM FRITAS",
      R("101", 5) + " " + R("2", 6) + " X  " + R("35,50", 9) + "   " + R("71,00", 9),
      "(*) MAL PASSADO",
      "(+) GELO",
      R("55", 5) + " " + R("1", 6) + " X  " + R("0,00", 9) + "   " + R("0,00", 9),
      "PAO DE QUEIJO",
      R("900", 5) + " " + R("1,5", 6) + " X  " + R("1.234,50", 9) + "   " + R("1.851,75", 9),
      kSep,
      "Valor da Venda " + std::string(13, ' ') + R("1.922,75", 9),
      kSep,
      "              OBRIGADO               ",
      "            VOLTE SEMPRE             ",
      kSep,
      "",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(printers.documents[0].printer, "CAIXA");
  EXPECT_EQ(printers.documents[0].font_name, "Lucida Console");
  EXPECT_EQ(UnprintedCount(), "3");  // the pre-bill marks nothing
}

TEST_F(PreBillTest, OptionsOfSeveralSalesStayWithTheirLineInTheOrderWritten) {
  Sale(81);
  Sale(82);
  Item(81, 1, 1, 1);
  Item(82, 1, 1, 1);
  OptionText(7, "SEM SAL");
  OptionText(8, "AO PONTO");
  Option(82, 1, 7);
  Option(81, 1, 8);
  Option(81, 1, 7);
  const auto& lines = PrintOne("81,82");
  const std::vector<std::string> items = From(lines, "FILE COM FRITAS");
  ASSERT_GE(items.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(items.begin() + 2, items.begin() + 4),
            (std::vector<std::string>{"(*) AO PONTO", "(*) SEM SAL"}));
  EXPECT_EQ(items[4], "FILE COM FRITAS");
  EXPECT_EQ(items[6], "(*) SEM SAL");
  EXPECT_EQ(items[7], kSep);
}

TEST_F(PreBillTest, AssociatedPlaceAndCompactAccompaniment) {
  Place(6, "APARTAMENTO 101");
  Sale(8);
  PlaceSale(5, 8, 3, "6");
  Product(3, "56", "GELO DE COCO GRANDE");
  Item(8, 1, 1, 1, 10);
  Item(8, 2, 3, 2, 1.25, 1);
  const auto& lines = PrintOne("8", 2);
  EXPECT_EQ(lines[5], "LOCAL: APARTAMENT" + std::string(19, ' ') + "8");
  const std::vector<std::string> items = {
      L("FILE COM FRITAS", 15) + " " + R("1", 5) + " " + R("10,00", 7) + " " + R("10,00", 7),
      L("(+) GELO DE COCO", 15) + " " + R("2", 5) + " " + R("1,25", 7) + " " + R("2,50", 7),
  };
  EXPECT_EQ(Section(lines, kCompactHeading), items);
}

TEST_F(PreBillTest, ServiceChargeWithoutDiscountOrFreight) {
  db.Exec("UPDATE parametro_geral SET tx_srv = 10");
  Sale(1);
  Item(1, 1, 1, 2, 25);
  const auto& lines = PrintOne("1");
  const std::vector<std::string> expected = {
      kSep,
      "Valor da Venda " + std::string(13, ' ') + R("50,00", 9),
      "Taxa de Serviço",
      "nao obrigatorio (10,00%)    " + R("5,00", 9),
      kSep,
      "Total     " + std::string(18, ' ') + R("55,00", 9),
      kSep,
      "              OBRIGADO               ",
  };
  const auto tail = From(lines, "Valor da Venda " + std::string(13, ' ') + R("50,00", 9));
  ASSERT_GE(tail.size(), expected.size() - 1);
  EXPECT_EQ(std::vector<std::string>(tail.begin(), tail.begin() + 7),
            std::vector<std::string>(expected.begin() + 1, expected.end()));
  EXPECT_FALSE(Contains(lines, "Sub Total " + std::string(18, ' ') + R("50,00", 9)));
}

TEST_F(PreBillTest, DiscountAndFreightOfEverySaleAreTotalled) {
  db.Exec("UPDATE parametro_geral SET tx_srv = 10");
  Sale(1, "12:00:00", "O", ", vl_tot_dsc, vl_tot_frt", ", 2.5, 0");
  Sale(2, "12:10:00", "O", ", vl_tot_dsc, vl_tot_frt", ", 2.5, 3");
  PlaceSale(5, 1, 1);
  PlaceSale(5, 2, 2);
  Item(1, 1, 1, 2, 10);
  Item(2, 1, 1, 3, 10);
  PrintAmounts amounts;
  ASSERT_TRUE(PrintPreBill(context, "1,2", kPrintTitle, 0, {}, &amounts));
  EXPECT_EQ(amounts.discount, 5);
  EXPECT_EQ(amounts.freight, 3);
  const auto& lines = printers.documents.at(0).lines;
  EXPECT_EQ(lines[5], "LOCAL: MESA 5" + std::string(19, ' ') + "MULT.");
  EXPECT_EQ(lines[8], "DATA      :15/03/2024        12:00:00");
  // T = 50 - 5 + 3 = 48; service on 48 - 3 = 45 is 4,50; total 52,50.
  const std::vector<std::string> expected = {
      "Valor da Venda " + std::string(13, ' ') + R("50,00", 9),
      "Desconto  " + std::string(18, ' ') + R("5,00", 9),
      "Frete     " + std::string(18, ' ') + R("3,00", 9),
      kSep,
      "Sub Total " + std::string(18, ' ') + R("48,00", 9),
      "Taxa de Serviço",
      "nao obrigatorio (10,00%)    " + R("4,50", 9),
      kSep,
      "Total     " + std::string(18, ' ') + R("52,50", 9),
  };
  const auto tail = From(lines, expected[0]);
  ASSERT_GE(tail.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(tail.begin(), tail.begin() + expected.size()), expected);
}

TEST_F(PreBillTest, InternalUseEndsWithTheSignatureBlock) {
  Sale(1, "12:30:00", "C");
  Item(1, 1, 1, 1, 10);
  const auto& lines = PrintOne("1");
  EXPECT_TRUE(Contains(lines, "TIPO      :UTILIZAÇÃO INTERNA"));
  const std::vector<std::string> ending = {kSep, std::string(37, ' '), std::string(37, ' '), kSep,
                                           "             ASSINATURA              ", ""};
  ASSERT_GE(lines.size(), ending.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end()), ending);
  EXPECT_FALSE(Contains(lines, "              OBRIGADO               "));
}

TEST_F(PreBillTest, PerPersonTotalOnlyForOneBillAndMoreThanOnePerson) {
  db.Exec("UPDATE local SET qt_loc_ocu = 4");
  Sale(1);
  PlaceSale(5, 1, 1, "NULL", "1");
  Item(1, 1, 1, 1, 100);
  const auto& four = PrintOne("1");
  EXPECT_TRUE(Contains(four, "Quant. pessoas:   4"));
  EXPECT_TRUE(Contains(four, "Total individual: 25,00"));

  printers.documents.clear();
  db.Exec("UPDATE local SET qt_loc_ocu = 1");
  EXPECT_FALSE(Contains(PrintOne("1"), "Quant. pessoas:   1"));

  printers.documents.clear();
  db.Exec("UPDATE local SET qt_loc_ocu = 4; UPDATE local_vnd SET id_tp_cta = 2");
  EXPECT_FALSE(Contains(PrintOne("1"), "Quant. pessoas:   4"));
}

TEST_F(PreBillTest, LongObservationIsPrintedInPiecesOf33) {
  const std::string observation = std::string(33, 'A') + std::string(33, 'B') + "CCCC";
  Sale(1, "12:30:00", "O", ", dc_obs_ger", ", '" + observation + "'");
  Item(1, 1, 1, 1, 10);
  const auto& lines = PrintOne("1");
  const auto at = std::find(lines.begin(), lines.end(), "OBS:" + std::string(33, 'A'));
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(*(at - 1), kSep);
  EXPECT_EQ(*(at + 1), "    " + std::string(33, 'B'));
  EXPECT_EQ(*(at + 2), "    CCCC");
  EXPECT_EQ(*(at + 3), kSep);
}

TEST_F(PreBillTest, CustomerAddressWhenTheSwitchIsOn) {
  db.Exec("UPDATE parametro_geral SET ic_imp_end_cli_orc = 'S'");
  db.Exec("INSERT INTO municipio (id_mun, nm_mun) VALUES (3, 'SAO PAULO')");
  const std::string street = "RUA DOUTOR JOSE DE ALMEIDA CAMARGO NUMERO 1500";
  db.Exec("INSERT INTO endereco_geo (id_end_geo, id_etb, dc_lg, dc_cpl_end, nm_brr, id_mun) VALUES (1, 1, '" +
          street + "', 'APTO 12', 'CENTRO', 3)");
  Sale(1);
  Item(1, 1, 1, 1, 10);
  const auto& lines = PrintOne("1");
  const auto at = std::find(lines.begin(), lines.end(), "END:" + street.substr(0, 33));
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(*(at + 1), "    " + street.substr(33));
  EXPECT_EQ(*(at + 2), "CPL:APTO 12");
  EXPECT_EQ(*(at + 3), "BRR:CENTRO");
  EXPECT_EQ(*(at + 4), "CID:SAO PAULO");
}

TEST_F(PreBillTest, CompanyNameIsCentredAndCutByPrinter) {
  db.Exec("UPDATE parametro_geral SET nm_emp = '  PIZZA BOAS  '");  // 10 characters: 13.5 -> 14
  Sale(1);
  Item(1, 1, 1, 1, 10);
  EXPECT_EQ(PrintOne("1")[3], std::string(14, ' ') + "PIZZA BOAS");

  printers.documents.clear();
  db.Exec("UPDATE parametro_geral SET nm_emp = 'PIZZA BOAS 1'");  // 12 characters: 12.5 -> 12
  EXPECT_EQ(PrintOne("1")[3], std::string(12, ' ') + "PIZZA BOAS 1");

  printers.documents.clear();
  db.Exec("UPDATE parametro_geral SET nm_emp = 'RESTAURANTE E PIZZARIA BELLA NAPOLI'");
  EXPECT_EQ(PrintOne("1")[3], std::string(12, ' ') + "RESTAURANTE E PIZZARIA BELLA NAP");

  printers.documents.clear();
  printers.current = "Mecaf IT402T Pic";
  const auto& mecaf = PrintOne("1");
  EXPECT_EQ(mecaf[0], kSep);
  EXPECT_EQ(mecaf[1], std::string(12, ' ') + "RESTAURANTE E PIZZ");
  EXPECT_EQ(printers.documents[0].font_name, "IT402TP Normal");
}

TEST_F(PreBillTest, PlannedDispatchLinesOnlyWhenEnabled) {
  Sale(1);
  Item(1, 1, 1, 1, 10);
  db.Exec("INSERT INTO item_programacao_entrega (nr_orc_loc, id_seq, id_seq_etg, dt_prv_etg, ic_ret_etg) "
          "VALUES (1, 1, 1, '20240320 1845', 'E')");
  EXPECT_FALSE(Contains(PrintOne("1"), "TP.EXPEDIR:ENTREGA"));

  printers.documents.clear();
  PrinterSettings settings;
  settings.dispatch_lines = true;
  const auto& lines = PrintOne("1", 0, settings);
  const auto at = std::find(lines.begin(), lines.end(), "DATA      :15/03/2024        12:30:00");
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(*(at + 1), "DT.EXPEDIR:20/03/2024-18:45");
  EXPECT_EQ(*(at + 2), "TP.EXPEDIR:ENTREGA");
}

TEST_F(PreBillTest, CompanyWithTheLongFeedGetsFiveMoreLines) {
  parameters.id_emp_orba = 781;
  Sale(1);
  Item(1, 1, 1, 1, 10);
  const auto& lines = PrintOne("1");
  EXPECT_EQ(std::vector<std::string>(lines.end() - 7, lines.end()),
            (std::vector<std::string>{kSep, "", "   ", "   ", "   ", "   ", "   "}));
}

TEST_F(PreBillTest, FailuresAreReportedAndGiveFalse) {
  Sale(1);
  Item(1, 1, 1, 1, 10);
  printers.fail_all = true;
  EXPECT_FALSE(PrintPreBill(context, "1", kPrintTitle, 0));
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].title, kErrorTitle);
  EXPECT_EQ(db.op.messages[0].text.rfind("Impressão do orçamento     \r\nImpressora CAIXA fora de linha", 0), 0u)
      << db.op.messages[0].text;

  printers.fail_all = false;
  EXPECT_FALSE(PrintPreBill(context, "1 or 1=1", kPrintTitle, 0));
  EXPECT_TRUE(printers.documents.empty());
}

}  // namespace
}  // namespace orba::test
