// PEM in table mode through the real service: order requests dropped into
// xml/Enviar, answers from xml/Receber, the database, the DataHora files and
// the documents of the spool printers.

#include <gtest/gtest.h>

#include <thread>

#include <clocale>
#include <fstream>
#include <memory>
#include <sstream>

#include <pugixml.hpp>

#include "e2e_harness.h"
#include "support/handler_run.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

const std::string kSep = "=====================================";

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// One item element; `inner` holds its caract/acomp elements.
std::string Item(const std::string& position, const std::string& product, const std::string& quantity,
                 const std::string& price, const std::string& inner = "", const std::string& associated = "0",
                 const std::string& account = "1") {
  return "<item posicao=\"" + position + "\" idlocalass=\"" + associated + "\" tpconta=\"" + account +
         "\" produto=\"" + Escaped(product) + "\" preco=\"" + Escaped(price) + "\" qtde=\"" + Escaped(quantity) +
         "\">" + inner + "</item>";
}
std::string Caract(const std::string& code) { return "<caract cod=\"" + Escaped(code) + "\"/>"; }
std::string Acomp(const std::string& code, const std::string& quantity, const std::string& price) {
  return "<acomp cod=\"" + code + "\" preco=\"" + price + "\" qtde=\"" + quantity + "\"/>";
}

// A PEM request as a handheld sends it. Without a stamp the request has no
// header at all.
std::string Pedido(const std::string& mesa, const std::string& items, const std::optional<std::string>& stamp,
                   const std::string& pessoas = "2", const std::string& operador = "10") {
  const std::string header = stamp ? "<header datahora=\"" + Escaped(*stamp) + "\"/>" : "";
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" mesa=\"" + Escaped(mesa) +
         "\" operador=\"" + Escaped(operador) + "\" pessoas=\"" + Escaped(pessoas) + "\" mensagem=\"\">" + header +
         items + "</pedido>";
}

// A document as text, whatever the formatting of the file it came from.
std::string Canonical(const std::string& bytes) {
  pugi::xml_document document;
  if (!document.load_buffer(bytes.data(), bytes.size())) return "<not well-formed>";
  std::ostringstream text;
  document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
  return text.str();
}

std::string Message(const std::string& answer) {
  pugi::xml_document document;
  document.load_buffer(answer.data(), answer.size());
  const pugi::xml_node pedido = document.select_node("//pedido").node();
  return pedido ? pedido.attribute("mensagem").value() : "<no pedido>";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

struct Ticket {
  std::string printer;
  std::vector<std::string> lines;
};

// A locale of the machine whose decimal separator is a comma, or "".
std::string DecimalCommaLocale() {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  std::string found;
  for (const char* name : {"pt_BR.UTF-8", "pt_BR.utf8", "de_DE.UTF-8", "fr_FR.UTF-8", "es_ES.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr && *std::localeconv()->decimal_point == ',') {
      found = name;
      break;
    }
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
  return found;
}

// One installation and one running service per suite; every case works on
// tables of its own, so the cases do not depend on each other.
class PemFixture : public SharedService<PemFixture> {
 protected:
  static void StartService(const std::string& sql, const std::vector<std::string>& environment = {}) {
    InstallationOptions options;
    options.printers = {"BAR", "CAIXA", "COZINHA", "Mecaf IT402T Pic"};
    options.sql = sql;
    StartShared(options, environment,
                [](Installation& installation) { test::WriteFile(installation.spool / "default", "CAIXA\n"); });
  }

  static void AddTable(int id, const std::string& name, const std::string& pap = "N", const std::string& people = "0",
                       const std::string& state = "L", int environment = 1) {
    installation_->Exec(
        "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (" +
        std::to_string(id) + ", '" + name + "', " + std::to_string(environment) + ", 'A', '" + state + "', " +
        people + ", '" + pap + "')");
  }

  // Drops the request and returns the answer's bytes ("" when none came).
  std::string Send(const std::string& request) {
    const std::string name = "PEM" + std::to_string(++sent_) + ".Xml";
    inst().DropRequest(name, request);
    const auto answer = inst().WaitForAnswer(name);
    EXPECT_TRUE(answer.has_value()) << name << " not answered\n" << service_->Stderr();
    return answer.value_or("");
  }
  // Drops all the requests at once (the service takes them in one go, in
  // whatever order) and returns their answers in the order given.
  std::vector<std::string> SendAll(const std::vector<std::string>& requests) {
    std::vector<std::string> names;
    for (const std::string& request : requests) {
      names.push_back("PEM" + std::to_string(++sent_) + ".Xml");
      inst().DropRequest(names.back(), request);
    }
    std::vector<std::string> answers;
    for (const std::string& name : names) {
      const auto answer = inst().WaitForAnswer(name);
      EXPECT_TRUE(answer.has_value()) << name << " not answered\n" << service_->Stderr();
      answers.push_back(answer.value_or(""));
    }
    return answers;
  }
  static std::string Stamp() { return "20261208" + std::to_string(100000 + ++stamps_); }

  // Everything an order writes, in one text: equal before and after means
  // nothing was written.
  std::string Snapshot() {
    return inst().Scalar(
        "select (select count(*) from venda_direta) || '|' || (select count(*) from item_venda_direta) || '|' || "
        "(select count(*) from forca_vnd_item_vnd) || '|' || (select count(*) from ivd_caracteristica_produto) "
        "|| '|' || (select count(*) from local_vnd) || '|' || (select count(*) from LOG_DONE) || '|' || "
        "(select count(*) from LOG_TO_UP) || '|' || ifnull((select id_vnd_dir from parametro_geral), 'null') "
        "|| '|' || (select group_concat(id_loc || ic_stt_loc || qt_loc_ocu) from local) || '|' || "
        "(select count(*) from item_venda_direta where id_prt_ite = 'S')");
  }
  // Sales of a place by position ("sale@position" joined by blanks).
  std::string SalesOf(int place) {
    return inst().Scalar("select group_concat(nr_orc_loc || '@' || nr_pos_com, ' ') from (select * from local_vnd "
                         "where id_loc = " + std::to_string(place) + " order by nr_pos_com, nr_orc_loc)");
  }
  std::string SaleOf(int place, int position) {
    return inst().Scalar("select min(nr_orc_loc) from local_vnd where id_loc = " + std::to_string(place) +
                         " and nr_pos_com = " + std::to_string(position));
  }
  std::string PlaceState(int place) {
    return inst().Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = " + std::to_string(place));
  }
  fs::path DataHoraFile(const std::string& mesa) { return inst().fixed / ("DataHora_" + mesa + ".xml"); }

  // The documents printed so far, in print order (one line of fonts.log each).
  std::size_t PrintMark() { return Lines(FontsLog()).size(); }
  std::vector<Ticket> TicketsSince(std::size_t mark) {
    std::vector<Ticket> tickets;
    const std::vector<std::string> log = Lines(FontsLog());
    for (std::size_t i = mark; i < log.size(); ++i) {
      const std::string document = log[i].substr(0, log[i].find('\t'));
      tickets.push_back(Ticket{document.substr(0, document.find('/')),
                               Lines(test::ReadFile(inst().spool / document))});
    }
    return tickets;
  }
  std::string FontsLog() {
    std::error_code ec;
    return fs::exists(inst().spool / "fonts.log", ec) ? test::ReadFile(inst().spool / "fonts.log") : "";
  }
  // The lines of a ticket between its column heading's closing separator and its tail.
  static std::vector<std::string> Body(const Ticket& ticket) {
    const auto& lines = ticket.lines;
    std::vector<std::size_t> separators;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == kSep) separators.push_back(i);
    }
    if (separators.size() < 5) return {};
    return {lines.begin() + static_cast<long>(separators[3]) + 1, lines.begin() + static_cast<long>(separators[4])};
  }

  static int sent_;
  static int stamps_;
};

int PemFixture::sent_ = 0;
int PemFixture::stamps_ = 0;

// ------------------------------------------------------------ orders

// Products besides the demo's: one without a tax rule (fiscal group 9) and a
// hotel with a room holding a breakfast package that includes product 101,
// one unit per stay, valid all day every day.
const char* kOrderSql =
    "INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) "
    "VALUES (40, '401', 'SEM TRIBUTACAO', 'UN', 0, 9), (90, '900', 'PACOTE CAFE', 'UN', 0, 1);"
    "INSERT INTO ambiente_local (id_amb, nm_amb, id_amb_ass, ic_ocu_chk_in) VALUES (5, 'QUARTOS', NULL, 'N');"
    "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
    "VALUES (501, 'Q501', 5, 'A', 'E', 2, 'N');"
    "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_pes_cli, id_etb_cli, id_end_geo_fat, id_end_geo_etg, "
    "id_end_geo_cob) VALUES (9001, 'O', 'JOAO DA SILVA', 2, 2, 2, 2);"
    "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES (501, 9001, 1, 0, 1);"
    "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd, pr_un_it_atd, id_prt_ite) "
    "VALUES (9001, 1, 90, 1, 0, 'S');"
    "INSERT INTO local_reservado (id_loc, dt_hr_ent, dt_hr_sai) VALUES (501, '202612010000', '202612312359');"
    "INSERT INTO local_reservado_hospede_prod (id_loc, dt_hr_ent, id_mat_pro, ic_srv_hsp) "
    "VALUES (501, '202612010000', 90, 'S');"
    "INSERT INTO pacote (cd_det_inf, id_srv_hsp, ic_dom_pac, ic_seg_pac, ic_ter_pac, ic_qua_pac, ic_qui_pac, "
    "ic_sex_pac, ic_sab_pac, hr_ini_pac1, hr_fim_pac1, hr_ini_pac2, hr_fim_pac2, ic_dia_pac, qt_inc_pac) "
    "VALUES (60, 90, 'S', 'S', 'S', 'S', 'S', 'S', 'S', 0, 2359, NULL, NULL, 'PF', 1);"
    "INSERT INTO pacote_produto (cd_det_inf, id_mat_pro) VALUES (60, 1);";

class PemEndToEnd : public PemFixture {
 protected:
  static void SetUpTestSuite() { StartService(kOrderSql); }
};

TEST_F(PemEndToEnd, TwoPositionsGiveTwoSalesLinkedToTheTableLoggedAndPrinted) {
  AddTable(201, "M201");
  const std::size_t mark = PrintMark();
  const std::string log_before = inst().Scalar("select count(*) from LOG_DONE");
  const std::string stamp = Stamp();
  const std::string request = Pedido("M201",
                                     Item("1", "101", "1", "50,00") + Item("1", "201", "2", "9.90") +
                                         Item("2", "102", "1", "42"),
                                     stamp, "3");
  const std::string answer = Send(request);
  EXPECT_EQ(Message(answer), "");
  EXPECT_EQ(answer.find("<item"), std::string::npos) << answer;
  EXPECT_NE(answer.find("<header datahora=\"" + stamp + "\""), std::string::npos) << answer;

  const std::string first = SaleOf(201, 1);
  const std::string second = SaleOf(201, 2);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(std::stoi(second), std::stoi(first) + 1);
  EXPECT_EQ(inst().Scalar("select group_concat(nr_pos_com || ':' || id_loc_ass || ':' || id_tp_cta, ' ') from "
                          "(select * from local_vnd where id_loc = 201 order by nr_pos_com)"),
            "1:0:1 2:0:1");
  EXPECT_EQ(inst().Scalar("select group_concat(nr_orc_loc || ':' || id_seq || ':' || id_mat_pro || ':' || "
                          "qt_pro_atd || ':' || pr_un_it_atd || ':' || id_prt_ite, ' ') from (select * from "
                          "item_venda_direta where nr_orc_loc in (" + first + "," + second +
                          ") order by nr_orc_loc, id_seq)"),
            first + ":1:1:1.0:50.0:S " + first + ":2:4:2.0:9.9:S " + second + ":1:2:1.0:42.0:S");
  EXPECT_EQ(inst().Scalar("select group_concat(ic_tip_ope || ':' || id_pes_atd || ':' || vl_tot_vnd, ' ') from "
                          "(select * from venda_direta where nr_orc_loc in (" + first + "," + second +
                          ") order by nr_orc_loc)"),
            "O:10:69.8 O:10:42.0");
  EXPECT_EQ(PlaceState(201), "E3");

  // One audit row per sale, each also waiting to be passed on.
  EXPECT_EQ(std::stoi(inst().Scalar("select count(*) from LOG_DONE")), std::stoi(log_before) + 2);
  EXPECT_EQ(inst().Scalar("select group_concat(cmd_log || ' ' || dc_cpl_cmd, ',') from (select * from LOG_DONE "
                          "where dc_cpl_cmd in ('" + first + "','" + second + "') order by id_seq_log)"),
            "ORCAMENTO " + first + ",ORCAMENTO " + second);
  EXPECT_EQ(inst().Scalar("select count(*) from LOG_DONE d join LOG_TO_UP u on u.id_seq_log = d.id_seq_log "
                          "where d.dc_cpl_cmd in ('" + first + "','" + second + "')"),
            "2");

  EXPECT_EQ(test::ReadFile(DataHoraFile("M201")),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n<Data_Hora>\r\n  <Header datahora=\"" + stamp +
                "\" versao=\"1.0\"/>\r\n</Data_Hora>\r\n");

  // The two sales are printed as one list: the kitchen gets both food lines
  // with their positions, the bar the beer; nothing goes to the default printer.
  const std::vector<Ticket> tickets = TicketsSince(mark);
  ASSERT_EQ(tickets.size(), 2u);
  EXPECT_EQ(tickets[0].printer, "COZINHA");
  EXPECT_EQ(tickets[1].printer, "BAR");
  EXPECT_EQ(tickets[0].lines.at(3), "LOCAL: M201" + std::string(21, ' ') + "MULT.");
  const std::vector<std::string> kitchen = {
      "FILE MIGNON GRELHADO", "01   101" + std::string(23, ' ') + "     1",
      "RISOTO DE COGUMELOS",  "02   102" + std::string(23, ' ') + "     1",
  };
  EXPECT_EQ(Body(tickets[0]), kitchen);
  EXPECT_TRUE(Contains(Body(tickets[1]), "01   201" + std::string(23, ' ') + "     2"));
}

TEST_F(PemEndToEnd, ResentRequestIsAnsweredAsStoredAndWritesNothing) {
  AddTable(202, "M202");
  const std::string request =
      Pedido("M202", Item("1", "101", "1", "50", Caract("1") + Acomp("103", "1", "8.5")), Stamp());
  ASSERT_EQ(Message(Send(request)), "");
  ASSERT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(202, 1)), "2");

  const std::string before = Snapshot();
  const std::size_t mark = PrintMark();
  EXPECT_EQ(Canonical(Send(request)), test::Stored(request));
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(TicketsSince(mark).empty());
}

TEST_F(PemEndToEnd, OrdersWithoutHeaderAreAllAppliedAndLeaveNoStamp) {
  AddTable(203, "M203");
  const std::string request = Pedido("M203", Item("1", "201", "1", "9"), std::nullopt);
  EXPECT_EQ(Message(Send(request)), "");
  EXPECT_EQ(Message(Send(request)), "");
  // One sale for the position, a line per order.
  EXPECT_EQ(SalesOf(203), SaleOf(203, 1) + "@1");
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(203, 1)), "2");
  EXPECT_FALSE(fs::exists(DataHoraFile("M203")));

  // An empty stamp is no stamp either.
  EXPECT_EQ(Message(Send(Pedido("M203", Item("1", "201", "1", "9"), std::string()))), "");
  EXPECT_EQ(Message(Send(Pedido("M203", Item("1", "201", "1", "9"), std::string()))), "");
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(203, 1)), "4");
  EXPECT_FALSE(fs::exists(DataHoraFile("M203")));
}

TEST_F(PemEndToEnd, FinishedOrLockedTableIsRefusedAndNothingIsWritten) {
  AddTable(204, "M204", "N", "2", "E");
  AddTable(205, "M205", "N", "2", "E");
  inst().Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_comp_lock) VALUES (8041, 'V', NULL), "
              "(8051, 'O', 'CAIXA01');"
              "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES "
              "(204, 8041, 1, 0, 1), (205, 8051, 1, 0, 1)");
  const std::string before = Snapshot();
  const std::size_t mark = PrintMark();

  const std::string finished = Send(Pedido("M204", Item("1", "101", "1", "50") + Item("2", "201", "1", "9"), Stamp()));
  EXPECT_EQ(Message(finished), "PEDIDO\\nFINALIZADO.     ");
  EXPECT_EQ(finished.find("<item"), std::string::npos) << finished;
  const std::string locked = Send(Pedido("M205", Item("1", "101", "1", "50"), Stamp()));
  EXPECT_EQ(Message(locked), "PEDIDO\\nBLOQUEADO.     ");

  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(TicketsSince(mark).empty());
  EXPECT_FALSE(fs::exists(DataHoraFile("M204")));
  EXPECT_FALSE(fs::exists(DataHoraFile("M205")));
}

TEST_F(PemEndToEnd, ProductWithoutTaxRuleRollsBackTheWholeOrderAndGivesTheSaleNumberBack) {
  AddTable(206, "M206");
  const std::string before = Snapshot();
  const std::string last_number = inst().Scalar("select ifnull(id_vnd_dir, 0) from parametro_geral");
  const std::size_t mark = PrintMark();
  const std::string answer = Send(Pedido(
      "M206", Item("1", "101", "1", "50") + Item("1", "201", "1", "9") + Item("2", "401", "1", "5"), Stamp()));
  EXPECT_EQ(Message(answer), "Tributação para \\no produto\\ncódigo 401\\nnão encontrada     ");
  EXPECT_EQ(answer.find("<item"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(TicketsSince(mark).empty());
  EXPECT_FALSE(fs::exists(DataHoraFile("M206")));

  // The number taken for the rolled-back sale goes to the next order.
  EXPECT_EQ(Message(Send(Pedido("M206", Item("1", "101", "1", "50"), Stamp()))), "");
  EXPECT_EQ(SaleOf(206, 1), std::to_string(std::stoi(last_number) + 1));
}

TEST_F(PemEndToEnd, ResendAfterAnotherHandheldsOrderAndARestartIsStoredOnce) {
  AddTable(216, "M216");
  const std::string a = Pedido("M216", Item("1", "101", "1", "50"), Stamp());
  ASSERT_EQ(Message(Send(a)), "");
  ASSERT_EQ(Message(Send(Pedido("M216", Item("2", "201", "1", "9"), Stamp()))), "");
  // Handheld A never saw its answer; meanwhile the service was restarted.
  ASSERT_EQ(service_->Terminate(), 0);
  ASSERT_TRUE(service_->Start(inst()) && service_->WaitUntilServing()) << service_->Stderr();
  EXPECT_EQ(Canonical(Send(a)), test::Stored(a));
  EXPECT_EQ(inst().Scalar("select count(*) from local_vnd join item_venda_direta using (nr_orc_loc) "
                          "where id_loc = 216"), "2");
}

TEST_F(PemEndToEnd, OrderWithoutItemsOpensTheTableAndPrintsNothing) {
  AddTable(207, "M207");
  const std::string sales_before = inst().Scalar("select count(*) from venda_direta");
  const std::size_t mark = PrintMark();
  const std::string stamp = Stamp();
  const std::string request = Pedido("M207", "", stamp, "4");
  EXPECT_EQ(Canonical(Send(request)), Canonical(request));
  EXPECT_EQ(PlaceState(207), "E4");
  EXPECT_EQ(inst().Scalar("select count(*) from venda_direta"), sales_before);
  EXPECT_EQ(SalesOf(207), "");
  EXPECT_TRUE(TicketsSince(mark).empty());
  // The stamp is recorded all the same: a resent copy is not applied.
  EXPECT_NE(test::ReadFile(DataHoraFile("M207")).find(stamp), std::string::npos);
}

TEST_F(PemEndToEnd, PeopleCountIsTheLeadingNumberAndZeroOrNoneKeepsTheTablesOwn) {
  AddTable(208, "M208", "N", "5", "E");
  Send(Pedido("M208", Item("1", "201", "1", "9"), Stamp(), "0"));
  EXPECT_EQ(PlaceState(208), "E5");
  Send(Pedido("M208", Item("1", "201", "1", "9"), Stamp(), ""));
  EXPECT_EQ(PlaceState(208), "E5");
  Send(Pedido("M208", Item("1", "201", "1", "9"), Stamp(), "abc"));
  EXPECT_EQ(PlaceState(208), "E5");
  Send(Pedido("M208", Item("1", "201", "1", "9"), Stamp(), "3 pessoas"));
  EXPECT_EQ(PlaceState(208), "E3");
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(208, 1)), "4");

  // Beyond what the table can hold: nothing changes.
  const std::string before = Snapshot();
  const std::string request = Pedido("M208", Item("1", "201", "1", "9"), Stamp(), "40000");
  EXPECT_TRUE(test::IsNotRecorded(Send(request)));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(PemEndToEnd, PlaceWithItsOwnSalePerOrderOpensANewSaleEveryTime) {
  AddTable(209, "M209", "S");
  EXPECT_EQ(Message(Send(Pedido("M209", Item("1", "101", "1", "50"), Stamp()))), "");
  EXPECT_EQ(Message(Send(Pedido("M209", Item("1", "201", "1", "9") + Item("2", "202", "1", "4"), Stamp()))), "");
  const auto links = inst().Rows("select nr_orc_loc, nr_pos_com from local_vnd where id_loc = 209 order by nr_orc_loc");
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0][1], "1");
  EXPECT_EQ(links[1][1], "1");
  EXPECT_EQ(links[2][1], "2");
  EXPECT_NE(links[0][0], links[1][0]);
  EXPECT_NE(links[1][0], links[2][0]);
  for (const auto& link : links) {
    EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + link[0]), "1");
  }
}

TEST_F(PemEndToEnd, GuestPackageMakesTheFirstUnitFreeWithItsAccompanimentAndNotTheSecond) {
  AddTable(210, "M210");
  ASSERT_EQ(Message(Send(Pedido("M210", Item("1", "101", "1", "50", Acomp("103", "1", "8"), "501"), Stamp()))), "");
  const std::string sale = SaleOf(210, 1);
  ASSERT_FALSE(sale.empty());
  // The new sale belongs to the guest of the room.
  EXPECT_EQ(inst().Scalar("select nm_pes_cli || ':' || id_etb_cli from venda_direta where nr_orc_loc = " + sale),
            "JOAO DA SILVA:2");
  EXPECT_EQ(inst().Scalar("select id_loc_ass from local_vnd where id_loc = 210"), "501");
  ASSERT_EQ(Message(Send(Pedido("M210", Item("1", "101", "1", "50", Acomp("103", "1", "8"), "501"), Stamp()))), "");
  EXPECT_EQ(inst().Scalar("select group_concat(id_seq || ':' || id_mat_pro || ':' || pr_un_it_atd || ':' || "
                          "vl_pr_un_ori || ':' || ifnull(ic_inc_pac, '-') || ':' || ifnull(id_usu_aut_inc_pac, '-') "
                          "|| ':' || ifnull(id_seq_pro_prn, '-'), ' ') from (select * from item_venda_direta where "
                          "nr_orc_loc = " + sale + " order by id_seq)"),
            "1:1:0.0:50.0:S:10:- 2:3:0.0:50.0:S:10:1 3:1:50.0:50.0:-:-:- 4:3:8.0:50.0:-:-:3");
  EXPECT_EQ(inst().Scalar("select vl_tot_ite from venda_direta where nr_orc_loc = " + sale), "58");
}

TEST_F(PemEndToEnd, MissingAttributesAreAnsweredAsNotRecordedAndWriteNothing) {
  AddTable(211, "M211");
  const std::string good = Item("1", "101", "1", "50");
  const std::string header = "<header datahora=\"" + Stamp() + "\"/>";
  const std::vector<std::string> requests = {
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" mesa=\"M211\" pessoas=\"2\" "
      "mensagem=\"\">" + header + good + "</pedido>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" mesa=\"M211\" operador=\"10\" "
      "mensagem=\"\">" + header + good + "</pedido>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido mesa=\"M211\" operador=\"10\" pessoas=\"2\" "
      "mensagem=\"\">" + header + good + "</pedido>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" operador=\"10\" pessoas=\"2\" "
      "mensagem=\"\">" + header + good + "</pedido>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" mesa=\"M211\" operador=\"10\" "
      "pessoas=\"2\" mensagem=\"\"><header/>" + good + "</pedido>",
      // Items that lack one attribute, after a good one already written.
      Pedido("M211", good + "<item posicao=\"1\" idlocalass=\"0\" produto=\"201\" preco=\"9\" qtde=\"1\"/>", Stamp()),
      Pedido("M211", good + "<item posicao=\"2\" idlocalass=\"0\" tpconta=\"1\" produto=\"201\" preco=\"9\"/>",
             Stamp()),
      Pedido("M211", good + "<item posicao=\"2\" tpconta=\"1\" produto=\"201\" preco=\"9\" qtde=\"1\"/>", Stamp()),
      Pedido("M211", "<item idlocalass=\"0\" tpconta=\"1\" produto=\"201\" preco=\"9\" qtde=\"1\"/>", Stamp()),
      Pedido("M211", Item("1", "101", "1", "50", "<caract/>"), Stamp()),
      Pedido("M211", Item("1", "101", "1", "50", "<acomp cod=\"103\" qtde=\"1\"/>"), Stamp()),
      Pedido("M211", Item("1", "101", "1", "50", "<acomp preco=\"1\" qtde=\"1\"/>"), Stamp()),
  };
  const std::string before = Snapshot();
  const std::size_t mark = PrintMark();
  const std::vector<std::string> answers = SendAll(requests);
  for (const std::string& answer : answers) EXPECT_TRUE(test::IsNotRecorded(answer)) << answer;
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(TicketsSince(mark).empty());
  EXPECT_FALSE(fs::exists(DataHoraFile("M211")));
  // The service is still there for the next one.
  EXPECT_EQ(Message(Send(Pedido("M211", good, Stamp()))), "");
}

TEST_F(PemEndToEnd, PricesAndQuantitiesTakeEitherDecimalMark) {
  AddTable(212, "M212");
  ASSERT_EQ(Message(Send(Pedido("M212",
                                Item("1", "201", "1,5", "12,50") + Item("1", "202", "0.25", "12.5") +
                                    Item("1", "203", "2", "7", "", "0", "2"),
                                Stamp()))),
            "");
  const std::string sale = SaleOf(212, 1);
  EXPECT_EQ(inst().Scalar("select group_concat(qt_pro_atd || 'x' || pr_un_it_atd, ' ') from (select * from "
                          "item_venda_direta where nr_orc_loc = " + sale + " order by id_seq)"),
            "1.5x12.5 0.25x12.5 2.0x7.0");
  // A server keeps amounts to the cent.
  EXPECT_EQ(inst().Scalar("select vl_tot_ite from venda_direta where nr_orc_loc = " + sale),
            inst().OnServer() ? "35.88" : "35.875");
  // The account type comes from the first item of the position.
  EXPECT_EQ(inst().Scalar("select id_tp_cta from local_vnd where id_loc = 212"), "1");
}

TEST_F(PemEndToEnd, ImpossibleQuantitiesPricesPositionsAndProductsAreRefusedByName) {
  AddTable(213, "M213");
  const std::string good = Item("1", "101", "1", "50");
  struct Case {
    std::string items;
    std::string message;
  };
  const std::vector<Case> cases = {
      {good + Item("1", "201", "-1", "9"), "Erro no Pedido.\\nQuantidade inválida\\nno produto 201."},
      {good + Item("1", "201", "0", "9"), "Erro no Pedido.\\nQuantidade inválida\\nno produto 201."},
      {good + Item("1", "201", "10000", "9"), "Erro no Pedido.\\nQuantidade inválida\\nno produto 201."},
      {good + Item("1", "201", "99999999999999999999", "9"), "Erro no Pedido.\\nQuantidade inválida\\nno produto 201."},
      {Item("1", "101", "1", "50", Acomp("103", "0", "1")), "Erro no Pedido.\\nQuantidade inválida\\nno produto 103."},
      {good + Item("1", "201", "1", "-9"), "Erro no Pedido.\\nPreço inválido\\nno produto 201."},
      {good + Item("1", "201", "1", "1000000"), "Erro no Pedido.\\nPreço inválido\\nno produto 201."},
      {Item("1", "101", "1", "50", Acomp("103", "1", "-1")), "Erro no Pedido.\\nPreço inválido\\nno produto 103."},
      {Item("0", "101", "1", "50") + Item("1", "201", "1", "9"), "Erro no Pedido.\\nPosição inválida."},
      {good + Item("-2", "201", "1", "9"), "Erro no Pedido.\\nPosição inválida."},
      {good + Item("2", "999", "1", "9"), "Produto\\ncódigo 999\\nnão cadastrado.     "},
      {Item("1", "101", "1", "50", Acomp("998", "1", "1")), "Produto\\ncódigo 998\\nnão cadastrado.     "},
  };
  const std::string before = Snapshot();
  const std::size_t mark = PrintMark();
  std::vector<std::string> requests;
  for (const Case& c : cases) requests.push_back(Pedido("M213", c.items, Stamp()));
  // Texts that are no numbers at all are answered as not recorded.
  const std::vector<std::string> not_numbers = {
      good + Item("1", "201", "um", "9"),  good + Item("1", "201", "1", "9,99,9"),
      good + Item("1", "201", "1e3", "9"), good + Item("1.5", "201", "1", "9"),
      good + Item("1", "201", "nan", "9"), good + Item("1", "201", "1", "inf")};
  for (const std::string& items : not_numbers) requests.push_back(Pedido("M213", items, Stamp()));
  const std::vector<std::string> answers = SendAll(requests);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(Message(answers[i]), cases[i].message) << cases[i].items;
    EXPECT_EQ(answers[i].find("<item"), std::string::npos) << cases[i].items;
  }
  for (std::size_t i = cases.size(); i < requests.size(); ++i) {
    EXPECT_TRUE(test::IsNotRecorded(answers[i])) << answers[i];
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(TicketsSince(mark).empty());
  EXPECT_FALSE(fs::exists(DataHoraFile("M213")));
}

TEST_F(PemEndToEnd, TableNamesWithQuotesOrPathsAreJustPlacesNotFound) {
  const std::string before = Snapshot();
  const auto fixed_before = Installation::FilesOf(inst().fixed);
  std::vector<std::string> requests;
  for (const std::string& mesa : {std::string("1' OR '1'='1"), std::string("1\"; DROP TABLE local; --"),
                                  std::string("../../etc/x"), std::string("M213'")}) {
    requests.push_back(Pedido(mesa, Item("1", "101", "1", "50"), Stamp()));
  }
  for (const std::string& answer : SendAll(requests)) {
    EXPECT_EQ(Message(answer), "Erro no Pedido.\\nLocal não encontrado.") << answer;
    EXPECT_EQ(answer.find("<item"), std::string::npos);
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Installation::FilesOf(inst().fixed), fixed_before);
  EXPECT_FALSE(fs::exists(inst().root / "etc" / "x"));
}

TEST_F(PemEndToEnd, TextWhereAWholeNumberIsReadChangesNothing) {
  AddTable(214, "M214");
  const std::vector<std::string> requests = {
      Pedido("M214", Item("1", "101", "1", "50"), Stamp(), "2", "10 or 1=1"),
      Pedido("M214", Item("1", "101", "1", "50"), Stamp(), "2", "abc"),
      Pedido("M214", Item("1", "101", "1", "50"), Stamp(), "2", ""),
      Pedido("M214", Item("1", "101", "1", "50", Caract("2);delete from local;--")), Stamp()),
      Pedido("M214", Item("1", "101", "1", "50", Caract("1,5")), Stamp()),
      Pedido("M214", Item("1", "101", "1", "50", "", "x"), Stamp()),
      Pedido("M214", Item("1", "101", "1", "50", "", "0", "1a"), Stamp()),
      Pedido("M214", Item("99999999999", "101", "1", "50"), Stamp()),
  };
  const std::string before = Snapshot();
  const std::vector<std::string> answers = SendAll(requests);
  for (const std::string& answer : answers) EXPECT_TRUE(test::IsNotRecorded(answer)) << answer;
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(inst().Scalar("select count(*) from local where id_loc = 214"), "1");
}

TEST_F(PemEndToEnd, PrintingFailureKeepsTheOrderAndTheKitchenPrintsItOnceItIsBackOn) {
  AddTable(215, "M215");
  // The kitchen is switched off.
  const fs::path blocker = inst().spool / "COZINHA" / "offline";
  test::WriteFile(blocker, "");

  const std::string stamp = Stamp();
  const std::string answer = Send(Pedido("M215", Item("1", "101", "1", "50"), stamp));
  EXPECT_EQ(Message(answer), "Erro ao finalizar\\no último orçamento.");
  EXPECT_EQ(answer.find("<item"), std::string::npos);
  const std::string sale = SaleOf(215, 1);
  ASSERT_FALSE(sale.empty());
  EXPECT_EQ(inst().Scalar("select group_concat(id_mat_pro || id_prt_ite) from item_venda_direta where nr_orc_loc = " +
                          sale),
            "1N");
  EXPECT_EQ(PlaceState(215), "E2");
  EXPECT_NE(test::ReadFile(DataHoraFile("M215")).find(stamp), std::string::npos);
  // The operator was told.
  EXPECT_NE(service_->Stderr().find("COZINHA"), std::string::npos) << service_->Stderr();

  // Switched on again: the kitchen gets its ticket without another order.
  const std::size_t mark = PrintMark();
  fs::remove_all(blocker);
  std::vector<Ticket> tickets;
  for (int i = 0; i < 300 && tickets.empty(); ++i) {
    std::this_thread::sleep_for(100ms);
    tickets = TicketsSince(mark);
  }
  ASSERT_EQ(tickets.size(), 1u) << service_->Stderr();
  EXPECT_EQ(tickets[0].printer, "COZINHA");
  EXPECT_TRUE(Contains(Body(tickets[0]), "FILE MIGNON GRELHADO"));
  // The ticket is out before its record is: the log line comes after both.
  const std::string printed = "Itens pendentes impressos (venda " + sale + ").";
  for (int i = 0; i < 300 && service_->Stderr().find(printed) == std::string::npos; ++i) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_NE(service_->Stderr().find(printed), std::string::npos) << service_->Stderr();
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N' and nr_orc_loc = " + sale),
            "0");

  // The next order prints only what is new.
  const std::size_t next = PrintMark();
  EXPECT_EQ(Message(Send(Pedido("M215", Item("1", "201", "1", "9"), Stamp()))), "");
  const std::vector<Ticket> new_tickets = TicketsSince(next);
  ASSERT_EQ(new_tickets.size(), 1u);
  EXPECT_EQ(new_tickets[0].printer, "BAR");
}

TEST_F(PemEndToEnd, HandheldSimulatorSendsAnOrder) {
  AddTable(216, "M216");
  const fs::path tool = fs::path(ORBA_BINARY).parent_path() / "orbapda-pda";
  const std::string output_file = (inst().root / "pda-pem.out").string();
  const std::string command = tool.string() + " --system-dir '" + inst().system_dir.string() +
                              "' --timeout 5 --xml pem M216 --operador 10 --pessoas 2 --item 1:101:1:50,00 --caract 1 "
                              "--acomp 103:1:8.5 --item 2:201:2:9.90:0:2 > '" + output_file + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << test::ReadFile(output_file);
  const std::string output = test::ReadFile(output_file);
  EXPECT_NE(output.find("mensagem=\"\""), std::string::npos) << output;
  EXPECT_EQ(output.find("<item"), std::string::npos) << output;
  EXPECT_EQ(inst().Scalar("select group_concat(nr_pos_com || ':' || id_tp_cta, ' ') from (select * from local_vnd "
                          "where id_loc = 216 order by nr_pos_com)"),
            "1:1 2:2");
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(216, 1)), "2");
  EXPECT_EQ(inst().Scalar("select count(*) from ivd_caracteristica_produto where nr_orc_loc = " + SaleOf(216, 1)),
            "1");
  // Its default stamp was recorded, and a second run is not taken for a copy.
  EXPECT_TRUE(fs::exists(DataHoraFile("M216")));
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(216, 1)), "4");
}

// ------------------------------------------------------------ tickets

// Product 104 is made on two printers, 105 on the receipt printer only.
const char* kTicketSql =
    "INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) "
    "VALUES (41, '104', 'PORCAO MISTA', 'UN', 0, 1), (42, '105', 'SOBREMESA', 'UN', 0, 1);"
    "INSERT INTO impressora (id_imp, nm_end_imp) VALUES (3, 'Mecaf IT402T Pic');"
    "INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (1, 41), (2, 41), (3, 42);";

class PemTicketsEndToEnd : public PemFixture {
 protected:
  static void SetUpTestSuite() {
    locale_ = DecimalCommaLocale();
    std::vector<std::string> environment;
    if (!locale_.empty()) environment = {"LC_ALL=" + locale_, "LANG=" + locale_};
    StartService(kTicketSql, environment);
  }

  // Sends an order of one table and returns the tickets it printed.
  std::vector<Ticket> Order(const std::string& mesa, const std::string& items) {
    const std::size_t mark = PrintMark();
    EXPECT_EQ(Message(Send(Pedido(mesa, items, Stamp()))), "");
    return TicketsSince(mark);
  }
  // Unprinted lines of the sales of a place.
  std::string Unprinted(int place) {
    return inst().Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N' and nr_orc_loc in "
                         "(select nr_orc_loc from local_vnd where id_loc = " + std::to_string(place) + ")");
  }

  static std::string locale_;
};

std::string PemTicketsEndToEnd::locale_;

TEST_F(PemTicketsEndToEnd, OneSaleOnOnePrinterToTheCharacter) {
  AddTable(301, "M301");
  const auto tickets = Order("M301", Item("1", "101", "2", "50", Caract("1") + Acomp("201", "1", "0")));
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_EQ(tickets[0].printer, "COZINHA");
  const std::string sale = SaleOf(301, 1);
  const std::string padded = std::string(5 - sale.size(), '0') + sale;
  const auto& lines = tickets[0].lines;
  ASSERT_GE(lines.size(), 14u);
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[2], kSep);
  EXPECT_EQ(lines[3], "LOCAL: M301/1" + std::string(19, ' ') + padded);
  EXPECT_EQ(lines[5].substr(0, 21), "DATA      :08/12/2026");
  EXPECT_EQ(lines[6], "FILIAL    :CENTRO");
  EXPECT_EQ(lines[7], "VENDEDOR  :GARCOM DEMO");
  EXPECT_EQ(lines[8], "TIPO      :ORCAMENTO");
  EXPECT_EQ(lines[9], "CLIENTE   :CONSUMIDOR FINAL");
  EXPECT_EQ(lines[11], "PRODUTO                          QTDE");
  const std::vector<std::string> body = {
      "FILE MIGNON GRELHADO", "  101" + std::string(26, ' ') + "     2", "(*) MAL PASSADO",
      "(+) CERVEJA LONG NECK 355ML", "  201" + std::string(26, ' ') + "     1",
  };
  EXPECT_EQ(Body(tickets[0]), body);
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(Unprinted(301), "0");
}

TEST_F(PemTicketsEndToEnd, ProductOnTwoPrintersAndProductsWithoutPrinterLastOnTheDefault) {
  AddTable(302, "M302");
  const auto tickets = Order("M302", Item("1", "104", "1", "30") + Item("1", "301", "1", "5") +
                                         Item("1", "202", "1", "4") + Item("1", "301", "2", "5"));
  ASSERT_EQ(tickets.size(), 3u);
  EXPECT_EQ(tickets[0].printer, "COZINHA");
  EXPECT_EQ(Body(tickets[0]), (std::vector<std::string>{"PORCAO MISTA", "  104" + std::string(26, ' ') + "     1"}));
  EXPECT_EQ(tickets[1].printer, "BAR");
  EXPECT_TRUE(Contains(Body(tickets[1]), "PORCAO MISTA"));
  EXPECT_TRUE(Contains(Body(tickets[1]), "AGUA MINERAL 500ML"));
  EXPECT_EQ(tickets[2].printer, "CAIXA");
  EXPECT_EQ(Body(tickets[2]), (std::vector<std::string>{"CAFE EXPRESSO", "  301" + std::string(26, ' ') + "     1",
                                                        "CAFE EXPRESSO", "  301" + std::string(26, ' ') + "     2"}));
  // Marked once, all of them.
  EXPECT_EQ(inst().Scalar("select group_concat(id_prt_ite, '') from item_venda_direta where nr_orc_loc = " +
                          SaleOf(302, 1)),
            "SSSS");
}

TEST_F(PemTicketsEndToEnd, ThreeSalesShowMultAndEachItemsPosition) {
  AddTable(303, "M303");
  const auto tickets = Order("M303", Item("1", "101", "1", "50") + Item("2", "102", "1", "40") +
                                         Item("3", "103", "3", "10"));
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_EQ(tickets[0].lines.at(3), "LOCAL: M303" + std::string(21, ' ') + "MULT.");
  EXPECT_EQ(tickets[0].lines.at(11), "PS CODIGO                        QTDE");
  const std::vector<std::string> body = {
      "FILE MIGNON GRELHADO", "01   101" + std::string(23, ' ') + "     1",
      "RISOTO DE COGUMELOS",  "02   102" + std::string(23, ' ') + "     1",
      "BATATA FRITA",         "03   103" + std::string(23, ' ') + "     3",
  };
  EXPECT_EQ(Body(tickets[0]), body);
  EXPECT_EQ(inst().Scalar("select count(*) from local_vnd where id_loc = 303"), "3");
}

TEST_F(PemTicketsEndToEnd, SaleNumberIsPaddedWithBlanksOnTheMecafAndZerosElsewhere) {
  AddTable(304, "M304");
  const auto tickets = Order("M304", Item("1", "105", "1", "12") + Item("1", "101", "1", "50"));
  ASSERT_EQ(tickets.size(), 2u);
  const std::string sale = SaleOf(304, 1);
  EXPECT_EQ(tickets[0].printer, "COZINHA");
  EXPECT_EQ(tickets[0].lines.at(3), "LOCAL: M304/1" + std::string(19, ' ') + std::string(5 - sale.size(), '0') + sale);
  EXPECT_EQ(tickets[1].printer, "Mecaf IT402T Pic");
  // No blank lines in front on that printer: it starts with the separator.
  EXPECT_EQ(tickets[1].lines.at(0), kSep);
  EXPECT_EQ(tickets[1].lines.at(1), "LOCAL: M304/1" + std::string(19, ' ') + std::string(5 - sale.size(), ' ') + sale);
  EXPECT_NE(FontsLog().find("Mecaf IT402T Pic/000001.txt\tIT402TP Normal"), std::string::npos) << FontsLog();
}

TEST_F(PemTicketsEndToEnd, QuantitiesPrintWithTheRegionalDecimalComma) {
  if (locale_.empty()) GTEST_SKIP() << "no locale with a decimal comma is installed";
  AddTable(305, "M305");
  const auto tickets = Order("M305", Item("1", "101", "2", "50") + Item("1", "101", "0,25", "50") +
                                         Item("1", "101", "1.5", "50"));
  ASSERT_EQ(tickets.size(), 1u);
  const std::vector<std::string> body = {
      "FILE MIGNON GRELHADO", "  101" + std::string(26, ' ') + "     2",
      "FILE MIGNON GRELHADO", "  101" + std::string(26, ' ') + "  0,25",
      "FILE MIGNON GRELHADO", "  101" + std::string(26, ' ') + "   1,5",
  };
  EXPECT_EQ(Body(tickets[0]), body);
  // Stored with a point whatever the regional settings.
  EXPECT_EQ(inst().Scalar("select group_concat(qt_pro_atd, ' ') from (select * from item_venda_direta where "
                          "nr_orc_loc = " + SaleOf(305, 1) + " order by id_seq)"),
            "2.0 0.25 1.5");
}

TEST_F(PemTicketsEndToEnd, ASecondOrderPrintsOnlyWhatIsNew) {
  AddTable(306, "M306");
  ASSERT_EQ(Order("M306", Item("1", "101", "1", "50")).size(), 1u);
  const auto second = Order("M306", Item("1", "201", "1", "9"));
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].printer, "BAR");
  EXPECT_EQ(Body(second[0]), (std::vector<std::string>{"CERVEJA LONG NECK 355ML", "  201" + std::string(26, ' ') + "     1"}));
  // An order without items prints nothing at all.
  EXPECT_TRUE(Order("M306", "").empty());
}

TEST_F(PemTicketsEndToEnd, PrinterWithoutDeviceNameTurnsTheOrderIntoOnePreBill) {
  AddTable(307, "M307");
  inst().Exec("INSERT INTO impressora (id_imp, nm_end_imp) VALUES (9, NULL)");
  const auto tickets = Order("M307", Item("1", "101", "1", "50") + Item("2", "201", "2", "9"));
  inst().Exec("DELETE FROM impressora WHERE id_imp = 9");
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_EQ(tickets[0].printer, "CAIXA");
  EXPECT_TRUE(Contains(tickets[0].lines, "TIPO      :ORCAMENTO"));
  EXPECT_TRUE(Contains(tickets[0].lines, "FILE MIGNON GRELHADO"));
  EXPECT_TRUE(Contains(tickets[0].lines, "CERVEJA LONG NECK 355ML"));
  EXPECT_TRUE(Contains(tickets[0].lines, "              OBRIGADO               "));
  EXPECT_EQ(Unprinted(307), "0");
}

TEST_F(PemTicketsEndToEnd, PrinterTypeOneInTheConfigurationPrintsNothing) {
  AddTable(308, "M308");
  const fs::path ini = inst().system_dir / "ORBA.INI";
  const std::string saved = test::ReadFile(ini);
  test::WriteFile(ini, "<RO><CONFIG SR=\"" + inst().BasePrefix() + "\"/><IMPRESSORA TP_IMPR=\"1\"/></RO>");
  const auto tickets = Order("M308", Item("1", "101", "1", "50"));
  test::WriteFile(ini, saved);
  EXPECT_TRUE(tickets.empty());
  EXPECT_EQ(inst().Scalar("select id_prt_ite from item_venda_direta where nr_orc_loc = " + SaleOf(308, 1)), "N");
}

// ------------------------------------------------------------ no printers

class PemWithoutPrintersEndToEnd : public PemFixture {
 protected:
  static void SetUpTestSuite() {
    StartService("DELETE FROM impressora_produto; DELETE FROM impressora; "
                 "UPDATE parametro_geral SET ic_imp_orc = 'S';");
  }
};

TEST_F(PemWithoutPrintersEndToEnd, PreBillOfTheWholeOrderOnlyWhenAskedFor) {
  AddTable(401, "M401");
  std::size_t mark = PrintMark();
  EXPECT_EQ(Message(Send(Pedido("M401", Item("1", "101", "1", "50") + Item("2", "201", "2", "9"), Stamp()))), "");
  auto tickets = TicketsSince(mark);
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_EQ(tickets[0].printer, "CAIXA");
  EXPECT_EQ(tickets[0].lines.at(5), "LOCAL: M401" + std::string(21, ' ') + "MULT.");
  EXPECT_TRUE(Contains(tickets[0].lines, "TIPO      :ORCAMENTO"));
  EXPECT_TRUE(Contains(tickets[0].lines, "FILE MIGNON GRELHADO"));
  EXPECT_TRUE(Contains(tickets[0].lines, "CERVEJA LONG NECK 355ML"));

  inst().Exec("UPDATE parametro_geral SET ic_imp_orc = 'N'");
  mark = PrintMark();
  EXPECT_EQ(Message(Send(Pedido("M401", Item("1", "102", "1", "40"), Stamp()))), "");
  EXPECT_TRUE(TicketsSince(mark).empty());
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc = " + SaleOf(401, 1)), "2");
}

}  // namespace
}  // namespace orba::e2e
