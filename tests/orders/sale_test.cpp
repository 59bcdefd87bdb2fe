#include <clocale>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/database.h"
#include "orders/sale.h"
#include "sale_fixture.h"

namespace orba::test {
namespace {

using SaleNumberTest = SaleFixture;

TEST_F(SaleNumberTest, FirstNumberIsOneThenTwo) {
  std::int32_t number = 0;
  ASSERT_TRUE(NextSaleNumber(db.session, number));
  EXPECT_EQ(number, 1);
  ASSERT_TRUE(NextSaleNumber(db.session, number));
  EXPECT_EQ(number, 2);
  EXPECT_EQ(db.Scalar("SELECT id_vnd_dir FROM parametro_geral"), "2");
  EXPECT_FALSE(db.session.InTransaction());
}

TEST_F(SaleNumberTest, TwoConnectionsDrawingAtOnceNeverGetTheSameNumber) {
  // The service and the back office, each in transactions of its own that
  // hold the number until they end, the first number (from Null) included.
  constexpr int kDraws = 40;
  RecordingOperator other_op;
  DatabaseSession other(other_op);
  ASSERT_TRUE(db.OpenAnother(other));
  std::vector<std::int32_t> numbers[2];
  const auto draw = [](DatabaseSession& session, std::vector<std::int32_t>& taken) {
    for (int i = 0; i < kDraws; ++i) {
      if (!session.BeginTransaction()) return;
      std::int32_t number = 0;
      const bool drawn = NextSaleNumber(session, number, true);
      session.CommitTransaction();
      if (drawn && !session.InTransaction()) taken.push_back(number);
    }
  };
  std::thread back_office(draw, std::ref(other), std::ref(numbers[1]));
  draw(db.session, numbers[0]);
  back_office.join();
  std::set<std::int32_t> all(numbers[0].begin(), numbers[0].end());
  all.insert(numbers[1].begin(), numbers[1].end());
  EXPECT_EQ(numbers[0].size() + numbers[1].size(), 2u * kDraws) << db.op.messages.size() << " failures";
  EXPECT_EQ(all.size(), 2u * kDraws) << "a number was given twice";
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), 2 * kDraws);
  EXPECT_EQ(db.Scalar("SELECT id_vnd_dir FROM parametro_geral"), std::to_string(2 * kDraws));
}

TEST_F(SaleNumberTest, RolledBackCallerTransactionGivesTheNumberBack) {
  std::int32_t number = 0;
  ASSERT_TRUE(NextSaleNumber(db.session, number));
  ASSERT_EQ(number, 1);

  ASSERT_TRUE(db.session.BeginTransaction());
  ASSERT_TRUE(NextSaleNumber(db.session, number, true));
  EXPECT_EQ(number, 2);
  EXPECT_TRUE(db.session.InTransaction()) << "the caller's transaction must stay open";
  db.session.RollbackTransaction();

  ASSERT_TRUE(db.session.BeginTransaction());
  ASSERT_TRUE(NextSaleNumber(db.session, number, true));
  EXPECT_EQ(number, 2);
  db.session.CommitTransaction();
  EXPECT_EQ(db.Scalar("SELECT id_vnd_dir FROM parametro_geral"), "2");
}

TEST_F(SaleNumberTest, NoParameterRowOrFailureLeavesNumberAlone) {
  db.Exec("DELETE FROM parametro_geral");
  std::int32_t number = 77;
  EXPECT_FALSE(NextSaleNumber(db.session, number));
  EXPECT_EQ(number, 77);

  // A counter past the 32-bit range fails and its own transaction is undone.
  db.Exec("INSERT INTO parametro_geral (id_vnd_dir) VALUES (2147483647)");
  EXPECT_FALSE(NextSaleNumber(db.session, number));
  EXPECT_EQ(number, 77);
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_EQ(db.Scalar("SELECT id_vnd_dir FROM parametro_geral"), "2147483647");
}

using InsertSaleTest = SaleFixture;

TEST_F(InsertSaleTest, OnlyRequiredInputsWriteTheDefaults) {
  std::string failure;
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, RequiredSale(5), &failure)) << failure;
  const std::string row =
      "SELECT ic_tip_ope, dt_vnd_dir, id_tip_nf, id_uti_pro, nm_pes_cli, id_etb_cli, id_usu_req,"
      " id_end_geo_fat, id_end_geo_etg, id_end_geo_cob, quote(id_pes_atd),"
      " vl_tot_ite, vl_bon, vl_tot_dsc, vl_tot_vnd, pc_dsc, quote(id_usu_aut_dsc), id_cnd_pag,"
      " ic_tp_ent, dt_ent, vl_ent, dt_pri_prst, qp_pri_prst, quote(ecf_loj_ope), quote(nr_cf),"
      " quote(nr_seq_ope), quote(id_vnd_dir), quote(id_etb_frq), quote(vl_tot_prl), vl_tot_frt,"
      " quote(qt_prl), quote(id_ori_venda), quote(id_ori_midia), quote(id_pes_cnv), dt_vnd_ini,"
      " hr_vnd_ini, hr_vnd_dir, quote(vl_tx_srv), quote(dc_obs_ger), quote(nm_comp_lock)"
      " FROM venda_direta WHERE nr_orc_loc = 5";
  Recordset rs;
  ASSERT_FALSE(db.session.OpenRecordset(row, rs));
  ASSERT_FALSE(rs.Eof());
  const char* expected[] = {"O",        "20240315", "1",        "1",        "CONSUMIDOR FINAL",
                            "1",        "0",        "1",        "1",        "1",
                            "NULL",     "0",        "0",        "0",        "0",
                            "0",        "NULL",     "0",        "0",        "20240315",
                            "0",        "20240315", "0",        "NULL",     "NULL",
                            "NULL",     "NULL",     "NULL",     "NULL",     "0",
                            "NULL",     "NULL",     "NULL",     "NULL",     "20240315",
                            "14:05:09", "14:05:09", "NULL",     "NULL",     "NULL"};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(rs.Field(i).Text(), expected[i]) << "column " << i;
  }
  // SQLite keeps what it is given: amounts must go in as numbers (a server's
  // columns have their types).
  if (!db.OnServer()) {
    EXPECT_EQ(db.Scalar("SELECT typeof(vl_tot_ite) || typeof(dt_ent) FROM venda_direta"), "realtext");
  }
}

TEST_F(InsertSaleTest, OptionalInputsAreWrittenInTheirForms) {
  SaleInput in = RequiredSale(6);
  in.id_pes_atd = "10";
  in.nr_cf = "  00123 ";
  in.dt_ent = "20240401";
  in.vl_tx_srv = "3,75";
  in.qt_prl = 2;
  in.dc_obs_ger = "sem sal";
  std::string failure;
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, in, &failure)) << failure;
  EXPECT_EQ(db.Scalar("SELECT id_pes_atd || '|' || nr_cf || '|' || dt_ent || '|' || vl_tx_srv || '|' ||"
                      " qt_prl || '|' || dc_obs_ger FROM venda_direta"),
            "10|00123|20240401|3.75|2.0|SEM SAL");
}

TEST_F(InsertSaleTest, CustomerNameWithApostropheIsStoredEscaped) {
  SaleInput in = RequiredSale(7);
  in.nm_pes_cli = " d'Ávila ";
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, in));
  EXPECT_EQ(db.Scalar("SELECT nm_pes_cli FROM venda_direta"), "D´ÁVILA");
}

TEST_F(InsertSaleTest, AmountsUseADotUnderADecimalCommaLocale) {
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  const char* comma_locale = nullptr;
  for (const char* name : {"pt_BR.UTF-8", "pt_BR.utf8", "de_DE.UTF-8", "de_DE.utf8", "pt_BR", "de_DE"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr && *std::localeconv()->decimal_point == ',') {
      comma_locale = name;
      break;
    }
  }
  if (comma_locale == nullptr) {
    std::setlocale(LC_NUMERIC, previous.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  SaleInput in = RequiredSale(8);
  in.vl_tot_ite = 2.5;
  in.vl_ent = "2,5";  // a request's own number in the regional form
  std::string failure;
  const bool written = InsertSale(db.session, parameters, clock, in, &failure);
  std::setlocale(LC_NUMERIC, previous.c_str());

  ASSERT_TRUE(written) << comma_locale << ": " << failure;
  EXPECT_EQ(db.Scalar("SELECT vl_tot_ite || '|' || vl_ent FROM venda_direta"), "2.5|2.5");
}

TEST_F(InsertSaleTest, RequiredInputsAreCheckedInOrderAndNothingIsWritten) {
  // Filling the inputs one at a time, in the order of the checks, each
  // failure must name the next missing one.
  const std::pair<InputValue SaleInput::*, const char*> order[] = {
      {&SaleInput::nr_orc_loc, "O Item não foi aceito. Não foi informada o Número da Venda.     "},
      {&SaleInput::ic_tip_ope, "O Item não foi aceito. Não foi informado o Tipo de Operação da Venda.     "},
      {&SaleInput::id_tip_nf, "O Item não foi aceito. Não foi informado o Tipo de Nota Fiscal do Cliente.     "},
      {&SaleInput::id_uti_pro,
       "O Item não foi aceito. Não foi informado a Utilização do Produto do Cliente.     "},
      {&SaleInput::nm_pes_cli, "O Item não foi aceito. Não foi informado o Nome do Cliente.     "},
      {&SaleInput::id_etb_cli, "O Item não foi aceito. Não foi informado o Estabelecimento do Cliente.     "},
      {&SaleInput::id_end_geo_fat,
       "O Item não foi aceito. Não foi informado o Endereço de Faturamento do Cliente.     "},
      {&SaleInput::id_end_geo_etg,
       "O Item não foi aceito. Não foi informado o Endereço de Entrega do Cliente.     "},
      {&SaleInput::id_end_geo_cob,
       "O Item não foi aceito. Não foi informado o Endereço de Cobrança do Cliente.     "},
  };
  const SaleInput full = RequiredSale(9);
  SaleInput in;
  in.id_usu_req = "";  // optional: never checked
  for (const auto& [field, description] : order) {
    std::string failure;
    EXPECT_FALSE(InsertSale(db.session, parameters, clock, in, &failure));
    EXPECT_EQ(failure, description);
    in.*field = full.*field;
  }
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_TRUE(InsertSale(db.session, parameters, clock, in));
}

TEST_F(InsertSaleTest, TextWhereANumberGoesIsRefusedBeforeTheStatement) {
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, RequiredSale(1)));
  const std::string last_statement = db.session.SqlText();

  SaleInput in = RequiredSale(2);
  in.id_etb_cli = "1) ; DELETE FROM venda_direta; --";
  std::string failure;
  EXPECT_FALSE(InsertSale(db.session, parameters, clock, in, &failure));
  EXPECT_NE(failure.find("não é um número"), std::string::npos) << failure;
  EXPECT_EQ(db.session.SqlText(), last_statement) << "the statement must not even be started";

  in = RequiredSale(2);
  in.id_pes_atd = "10 or 1=1";
  EXPECT_FALSE(InsertSale(db.session, parameters, clock, in));
  in = RequiredSale(2);
  in.vl_tot_ite = "12abc";
  EXPECT_FALSE(InsertSale(db.session, parameters, clock, in));
  EXPECT_EQ(Count("venda_direta"), "1");
}

TEST_F(InsertSaleTest, InfiniteAmountOrDuplicateNumberFails) {
  SaleInput in = RequiredSale(3);
  in.vl_tot_vnd = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(InsertSale(db.session, parameters, clock, in));
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, RequiredSale(3)));
  std::string failure;
  EXPECT_FALSE(InsertSale(db.session, parameters, clock, RequiredSale(3), &failure));
  EXPECT_FALSE(failure.empty());
  EXPECT_EQ(Count("venda_direta"), "1");
}

using InsertSaleItemTest = SaleFixture;

TEST_F(InsertSaleItemTest, WritesTheLineAndItsSalesperson) {
  SaleItemInput in = Line(4, 1, 12.5, 2);
  in.id_seq_pro_prn = "";
  in.ic_inc_pac = "S";
  in.id_usu_aut_inc_pac = "10";
  in.dc_pro_epc = "bem passado";
  std::string failure;
  ASSERT_TRUE(InsertSaleItem(db.session, parameters, clock, in, &failure)) << failure;
  EXPECT_EQ(db.Scalar("SELECT pr_un_it_atd || '|' || qt_pro_atd || '|' || id_prt_ite || '|' ||"
                      " quote(id_seq_pro_prn) || '|' || dt_vnd_ite || '|' || hr_vnd_ite || '|' ||"
                      " ic_inc_pac || '|' || id_usu_aut_inc_pac || '|' || dc_pro_epc || '|' ||"
                      " quote(nr_lot_ite) || quote(nr_ped_ext) || quote(id_sit_osv) || quote(id_seq_osv_off)"
                      " FROM item_venda_direta WHERE nr_orc_loc = 4 AND id_seq = 1"),
            "12.5|2.0|N|NULL|20240315|14:05:09|S|10|BEM PASSADO|NULLNULLNULLNULL");
  EXPECT_EQ(db.Scalar("SELECT nr_orc_loc || '|' || id_seq || '|' || id_pes_atd || '|' || id_etb_cli || '|' ||"
                      " qt_pro_atd FROM forca_vnd_item_vnd"),
            "4|1|10|1|2.0");
}

TEST_F(InsertSaleItemTest, EmptyTaxRuleOrSalespersonWritesNothing) {
  SaleItemInput in = Line(4, 1, 10, 1);
  in.id_tri = "";
  std::string failure;
  EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, in, &failure));
  EXPECT_EQ(failure, "O Item não foi aceito. Não foi informado a Tributação.     ");

  in = Line(4, 1, 10, 1);
  in.id_pes_atd = InputValue();
  EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, in, &failure));
  EXPECT_EQ(failure, "O Item não foi aceito. Não foi informado o Vendedor.     ");

  in = Line(4, 1, 10, 1);
  in.id_etb_cli = "";
  EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, in, &failure));
  EXPECT_EQ(failure, "O Item não foi aceito. Não foi informado o Estabelecimento do Cliente.     ");

  // The sale number is checked first of all.
  in = SaleItemInput();
  EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, in, &failure));
  EXPECT_EQ(failure, "O Item não foi aceito. Não foi informada o Número da Venda.     ");
  in.nr_orc_loc = 4;
  EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, in, &failure));
  EXPECT_EQ(failure,
            "O Item não foi aceito. Não foi informado o Sequencial da tabela Item_Venda_Direta.     ");

  EXPECT_EQ(Count("item_venda_direta"), "0");
  EXPECT_EQ(Count("forca_vnd_item_vnd"), "0");
}

TEST_F(InsertSaleItemTest, NonNumberIdsNeverReachTheStatement) {
  for (auto field : {&SaleItemInput::id_mat_pro, &SaleItemInput::id_seq_pro_prn, &SaleItemInput::id_pes_atd,
                     &SaleItemInput::qt_pro_atd, &SaleItemInput::nr_ped_ext}) {
    SaleItemInput in = Line(4, 1, 10, 1);
    in.*field = "1; DROP TABLE venda_direta";
    std::string failure;
    EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, in, &failure));
    EXPECT_EQ(db.session.SqlText().find("DROP"), std::string::npos);
  }
  EXPECT_EQ(Count("item_venda_direta"), "0");
  EXPECT_EQ(Count("venda_direta"), "0");
}

TEST_F(InsertSaleItemTest, FailedSalespersonRowIsRemovedByTheCallersRollback) {
  db.Exec("INSERT INTO forca_vnd_item_vnd (nr_orc_loc, id_seq, id_pes_atd) VALUES (4, 1, 10)");
  ASSERT_TRUE(db.session.BeginTransaction());
  const bool written = InsertSaleItem(db.session, parameters, clock, Line(4, 1, 10, 1));
  if (!db.OnServer()) {
    EXPECT_FALSE(written);
    EXPECT_EQ(Count("item_venda_direta"), "1");
  } else {
    // A server tells a write's failure when the transaction next waits for it.
    EXPECT_THROW(db.session.ChangedRows(), DatabaseError);
  }
  db.session.RollbackTransaction();
  EXPECT_EQ(Count("item_venda_direta"), "0");
}

class TotalsTest : public SaleFixture {
 protected:
  void Totals(std::int32_t sale, const InputValue& waiter) {
    WriteSaleTotals(db.session, clock, {sale}, db.session.Queries({SaleLinesRead(db.session, {sale})})[0], waiter);
  }
};

TEST_F(TotalsTest, SumsLinesIntoTheHeader) {
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, RequiredSale(1)));
  ASSERT_TRUE(InsertSaleItem(db.session, parameters, clock, Line(1, 1, 10.00, 2, 1.00)));
  ASSERT_TRUE(InsertSaleItem(db.session, parameters, clock, Line(1, 2, 5.00, 1)));
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, RequiredSale(2)));
  db.Exec("UPDATE venda_direta SET vl_tot_frt = 9");
  clock.Set(LocalTime{2024, 3, 15, 15, 30, 0, 5});

  Totals(1, "10");
  Totals(2, 11);
  EXPECT_EQ(db.Scalar("SELECT vl_tot_ite || '|' || vl_tot_dsc || '|' || vl_tot_vnd || '|' || vl_tot_frt ||"
                      " '|' || id_pes_atd || '|' || hr_vnd_dir || '|' || hr_vnd_ini"
                      " FROM venda_direta WHERE nr_orc_loc = 1"),
            "25.0|2.0|23.0|0.0|10|15:30:00|14:05:09");
  EXPECT_EQ(db.Scalar("SELECT vl_tot_ite || '|' || vl_tot_dsc || '|' || vl_tot_vnd || '|' || id_pes_atd"
                      " FROM venda_direta WHERE nr_orc_loc = 2"),
            "0.0|0.0|0.0|11");
}

TEST_F(TotalsTest, OverflowAndBadWaiterAreErrorsThatWriteNothing) {
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, RequiredSale(1)));
  // A server's fixed-point columns refuse such a line in the first place.
  if (!db.OnServer()) {
    ASSERT_TRUE(InsertSaleItem(db.session, parameters, clock, Line(1, 1, 1e300, 1e10)));
    EXPECT_THROW(Totals(1, "10"), DatabaseError);
    EXPECT_EQ(db.Scalar("SELECT vl_tot_ite || '|' || quote(id_pes_atd) FROM venda_direta"), "0.0|NULL");
  } else {
    EXPECT_FALSE(InsertSaleItem(db.session, parameters, clock, Line(1, 1, 1e300, 1e10)));
  }

  db.Exec("DELETE FROM item_venda_direta; DELETE FROM forca_vnd_item_vnd");
  ASSERT_TRUE(InsertSaleItem(db.session, parameters, clock, Line(1, 1, 10, 1)));
  EXPECT_THROW(Totals(1, "10, vl_tot_vnd = 0"), DatabaseError);
  EXPECT_THROW(Totals(1, ""), DatabaseError);
  EXPECT_EQ(db.Scalar("SELECT quote(id_pes_atd) FROM venda_direta"), "NULL");
}

}  // namespace
}  // namespace orba::test
