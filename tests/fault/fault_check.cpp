// The fault-injection run, repeatable: the real service on a throw-away
// installation is given
//   - a corpus of hostile requests (malformed documents, SQL, path pieces and
//     absurd values in well-formed ones, unknown codes, odd names), each with
//     the outcome it must have: an answer, an empty answer, or none (left in
//     work as .Tmp); none of them may change the database or touch a file
//     outside the exchange folders;
//   - orders with stamps while the service is killed (SIGKILL) at random
//     moments, some of them right after an order was committed and before it
//     was answered; after each kill the service is started again and every
//     order not answered is sent again. Every order must end up stored exactly
//     once, with sale totals equal to their lines.
//
// ctest runs the short form. The full form (the figures of a release):
//   ORBA_FAULT_FULL=1 build/tests/orba_fault_check

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_harness.h"
#include "host/routes.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

using namespace std::chrono_literals;

bool FullRun() {
  const char* full = std::getenv("ORBA_FAULT_FULL");
  return full != nullptr && std::string(full) == "1";
}

enum class Outcome { Answered, EmptyAnswer, NotAnswered };

struct Case {
  std::string name;  // file name in xml/Enviar
  std::string bytes;
  Outcome expected;
};

const char* kCodes[] = {"STM", "PEM", "POM", "FEM", "TRM", "SLA", "CIM"};

// A well-formed request of the code, with `mesa` (an attribute value, already
// escaped) as the table or origin.
std::string Request(const std::string& code, const std::string& mesa) {
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  if (code == "STM" || code == "SLA" || code == "FEM") {
    return declaration + "<local mesa=\"" + mesa +
           "\" status=\"\" mensagem=\"\" ambiente=\"1\" posisaoAss=\"\" tipoConta=\"\" pessoas=\"2\" "
           "ic_tip_cnt=\"1\" id_loc=\"\" nm_loc=\"\" retornoOK=\"\"/>";
  }
  if (code == "TRM") {
    return declaration + "<TRM mesaOrigem=\"" + mesa + "\" mesaDestino=\"" + mesa + "\" status=\"\" mensagem=\"\">\r\n</TRM>";
  }
  if (code == "CIM") return declaration + "<pda><Pedido tipo=\"C\" mesa=\"" + mesa + "\" operador=\"10\"/></pda>";
  return declaration + "<pda><header datahora=\"20261208120000\"/><pedido tipo=\"P\" mesa=\"" + mesa +
         "\" ic_tip_tra=\"\" operador=\"10\" pessoas=\"2\" mensagem=\"\"><item posicao=\"1\" idlocalass=\"0\" "
         "tpconta=\"1\" produto=\"101\" preco=\"0\" qtde=\"0\"/></pedido></pda>";
}

std::string WithTrailingNuls(const std::string& text) { return text + std::string(3, '\0'); }

// Documents no request may be served as.
std::vector<std::string> MalformedBodies() {
  std::string binary;
  std::mt19937 random(7);
  for (int i = 0; i < 300; ++i) binary += static_cast<char>(random() & 0xff);
  std::string laughs = "<!DOCTYPE a [<!ENTITY a \"aaaaaaaaaa\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY " + std::string(1, static_cast<char>('a' + i)) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&" + std::string(1, static_cast<char>('a' + i - 1)) + ";";
    laughs += "\">";
  }
  laughs += "]><local mesa=\"&j;\" status=\"\" mensagem=\"\"/>";
  return {
      "<local mesa=\"1\" status=\"\"/><local mesa=\"2\" status=\"\"/>",
      "<local mesa=\"1\" mesa=\"2\" status=\"\" mensagem=\"\"/>",
      "<local mesa=\"a<b\" status=\"\"/>",
      "<local mesa=\"a & b\" status=\"\"/>",
      "<pda><pedido mesa=\"1\" operador=\"10\"><item preco=\"1&#0;00\"/></pedido></pda>",
      WithTrailingNuls("<local mesa=\"1\" status=\"\"/>"),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><local mesa=\"\xE7\xE3\" status=\"\"/>",
      laughs,
      "<!DOCTYPE local SYSTEM \"file:///etc/passwd\"><local mesa=\"1\"/>",
      "<pda><pedido mesa=\"1\"",
      "",
      "<local mesa=\"1\" status=\"\"/>trailing text",
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><local mesa=\"1\"/>",
      binary,
      "<local mesa=\"&#xD800;\" status=\"\"/>",
      "<local mesa=\"1\"><![CDATA[never ends</local>",
      "<local mesa=1 status=\"\"/>",
      "<local mesa=\"1\" status=\"\"><!-- never ends </local>",
      "<local mesa=\"&unknown;\" status=\"\"/>",
      "<local mesa=\"" + std::string(1100 * 1024, 'x') + "\"/>",  // larger than any request
  };
}

// Names, SQL and path pieces that are only ever text.
const char* kHostileNames[] = {
    "1' OR '1'='1", "x'; DELETE FROM local; --", "../../../../etc/passwd", "..\\..\\windows", "a/b/../../c",
    "%2e%2e%2f", "", "NÃO EXISTE", "99",
};

std::vector<Case> Corpus() {
  std::vector<Case> corpus;
  int n = 0;
  auto add = [&](const std::string& code, const std::string& bytes, Outcome when_served) {
    const bool served = FindHandler(code.substr(0, 3), false) != nullptr;
    char name[32];
    std::snprintf(name, sizeof name, "%s%04d.Xml", code.c_str(), ++n);
    corpus.push_back({name, bytes, served ? when_served : Outcome::NotAnswered});
  };
  for (const char* code : kCodes) {
    for (const std::string& body : MalformedBodies()) add(code, body, Outcome::EmptyAnswer);
    for (const char* mesa : kHostileNames) add(code, Request(code, mesa), Outcome::Answered);
    add(code, Request(code, std::string(5000, 'M')), Outcome::Answered);
  }
  // Orders that must be refused or fail, for a table that exists.
  const std::string order = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pda><header datahora=\"H\"/>"
                            "<pedido tipo=\"P\" mesa=\"1\" operador=\"OP\" pessoas=\"2\" mensagem=\"\">ITEMS</pedido></pda>";
  auto pedido = [&](const std::string& items, const std::string& operador = "10",
                    const std::string& stamp = "20261208120001") {
    std::string text = order;
    text.replace(text.find("ITEMS"), 5, items);
    text.replace(text.find("OP"), 2, operador);
    text.replace(text.find("\"H\""), 3, "\"" + stamp + "\"");
    return text;
  };
  auto item = [](const std::string& position, const std::string& product, const std::string& quantity,
                 const std::string& price, const std::string& extra = "") {
    return "<item posicao=\"" + position + "\" idlocalass=\"0\" tpconta=\"1\" produto=\"" + product +
           "\" preco=\"" + price + "\" qtde=\"" + quantity + "\"" + extra + "/>";
  };
  std::string too_many;
  for (int i = 0; i < 501; ++i) too_many += item("1", "101", "1", "1");
  for (const std::string& body : {
           pedido(item("1", "101", "NaN", "10")), pedido(item("1", "101", "1e308", "10")),
           pedido(item("1", "101", "-1", "10")), pedido(item("1", "101", "0", "10")),
           pedido(item("1", "101", "1", "-5")), pedido(item("1", "101", "1", "1,5,5")),
           pedido(item("0", "101", "1", "10")), pedido(item("99999999999", "101", "1", "10")),
           pedido(item("1", "x'; DROP TABLE produto; --", "1", "10")), pedido(item("1", "999999", "1", "10")),
           pedido("<item posicao=\"1\" idlocalass=\"0\" tpconta=\"x\" produto=\"101\" preco=\"1\" qtde=\"1\"/>"),
           pedido(item("1", "101", "1", "10"), "1 or 1=1"), pedido(item("1", "101", "1", "10"), ""),
           pedido(too_many), pedido(item("1", "101", "1", "10"), "10", std::string(100, '9')),
           pedido("<item posicao=\"1\" idlocalass=\"0\" tpconta=\"1\" produto=\"101\" preco=\"1\" qtde=\"1\">"
                  "<caract cod=\"1);DELETE FROM local;--\"/></item>"),
       }) {
    add("PEM", body, Outcome::Answered);
  }
  // Codes nobody serves, and names the handhelds do not write.
  for (const char* code : {"XYZ", "AB.", "PE ", "stn", "P\xC3\x89M", "000"}) add(code, Request("STM", "1"), Outcome::NotAnswered);
  corpus.push_back({"STM" + std::string(240, 'L') + ".Xml", Request("STM", "1"), Outcome::Answered});
  corpus.push_back({"stm lower case and blanks.xml", Request("STM", "1"), Outcome::Answered});
  return corpus;
}

// Every row of every table, as text: what "unchanged" means.
std::map<std::string, std::vector<std::vector<std::string>>> Snapshot(const Installation& installation) {
  std::map<std::string, std::vector<std::vector<std::string>>> tables;
  for (const auto& row : installation.Rows("select name from sqlite_master where type = 'table' order by name")) {
    tables[row[0]] = installation.Rows("select * from \"" + row[0] + "\" order by rowid");
  }
  return tables;
}

TEST(FaultInjection, HostileCorpusIsAnsweredAsPromisedAndChangesNothing) {
  InstallationOptions options;
  Installation installation(options);
  // Links planted where the service writes, pointing at a file outside.
  const fs::path outside = installation.root / "outside";
  fs::create_directories(outside);
  test::WriteFile(outside / "sentinel", "untouched\n");
  fs::create_symlink(outside / "sentinel", installation.answers / "STM0001.Xml");
  fs::create_symlink(outside / "sentinel", installation.fixed / "DataHora_1.xml");

  ServiceProcess service;
  ASSERT_TRUE(service.Start(installation));
  ASSERT_TRUE(service.WaitUntilServing());
  const auto before = Snapshot(installation);

  const std::vector<Case> corpus = Corpus();
  ASSERT_GE(corpus.size(), 200u);
  for (const Case& c : corpus) installation.DropRequest(c.name, c.bytes);

  int wrong = 0;
  for (const Case& c : corpus) {
    const fs::path answer = installation.answers / c.name;
    const fs::path in_work = installation.requests / (c.name.substr(0, c.name.size() - 3) + "Tmp");
    // A planted link is not an answer: wait for the file the service writes.
    const auto written = [&answer]() {
      std::error_code ec;
      return fs::is_regular_file(fs::symlink_status(answer, ec));
    };
    bool settled = false;
    for (const auto deadline = std::chrono::steady_clock::now() + 20s;
         !settled && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
      std::error_code ec;
      settled = c.expected == Outcome::NotAnswered ? fs::exists(in_work, ec) : written();
    }
    std::error_code ec;
    const bool has_answer = written();
    const std::uintmax_t size = has_answer ? fs::file_size(answer, ec) : 0;
    Outcome seen = !has_answer ? Outcome::NotAnswered : size == 0 ? Outcome::EmptyAnswer : Outcome::Answered;
    if (!settled || seen != c.expected) {
      ++wrong;
      ADD_FAILURE() << c.name << ": expected outcome " << static_cast<int>(c.expected) << ", saw "
                    << static_cast<int>(seen) << (settled ? "" : " (timed out)");
    }
  }
  EXPECT_TRUE(service.Running()) << "the service crashed\n" << service.Stderr();
  EXPECT_EQ(Snapshot(installation), before) << "the database changed";
  EXPECT_EQ(test::ReadFile(outside / "sentinel"), "untouched\n");
  EXPECT_EQ(Installation::FilesOf(outside), std::vector<std::string>{"sentinel"});
  for (const fs::path& folder : {installation.root, installation.base}) {
    for (const std::string& name : Installation::FilesOf(folder)) {
      EXPECT_TRUE(name == "xml" || name == "ORBA.MDB" || name.rfind("ORBA.MDB-", 0) == 0 || name == "etc" ||
                  name == "loja" || name == "spool" || name == "outside" || name == "run" ||
                  name.rfind("orbapda-", 0) == 0)
          << "unexpected file " << (folder / name);
    }
  }
  // Still serving.
  installation.DropRequest("STM9999.Xml", StmRequest("1"));
  const auto answer = installation.WaitForAnswer("STM9999.Xml");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(LocalAttributes(*answer)["status"], "L");
  std::printf("corpus: %zu hostile requests, %d with another outcome than expected, service %s\n", corpus.size(),
              wrong, service.Running() ? "running" : "gone");
  EXPECT_EQ(service.Terminate(), 0);
}

struct SentOrder {
  std::string name;
  std::string table;
  std::string stamp;
  std::string price;  // unique per order: tells its lines apart
  bool answered = false;
};

std::string OrderRequest(const SentOrder& order) {
  const std::string item = "<item posicao=\"%P\" idlocalass=\"0\" tpconta=\"1\" produto=\"101\" preco=\"" + order.price +
                           "\" qtde=\"1\"/>";
  std::string items;
  for (const char* position : {"1", "2"}) {
    std::string line = item;
    line.replace(line.find("%P"), 2, position);
    items += line;
  }
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pda><header datahora=\"" + order.stamp +
         "\"/><pedido tipo=\"P\" mesa=\"" + order.table + "\" operador=\"10\" pessoas=\"2\" mensagem=\"\">" + items +
         "</pedido></pda>";
}

TEST(FaultInjection, OrdersSurviveKillsStoredExactlyOnce) {
  const int orders = FullRun() ? 800 : 40;
  const int kill_every = FullRun() ? 7 : 4;  // about one order in this many sees a kill
  Installation installation;
  ServiceProcess service;
  ASSERT_TRUE(service.Start(installation));
  ASSERT_TRUE(service.WaitUntilServing());

  std::mt19937 random(20261208);
  std::vector<SentOrder> sent;
  int kills = 0;
  int kills_after_commit = 0;
  auto restart = [&]() {
    kill(service.pid(), SIGKILL);
    ASSERT_TRUE(service.WaitForExit(5s).has_value());
    ++kills;
    ASSERT_TRUE(service.Start(installation));
    ASSERT_TRUE(service.WaitUntilServing());
  };
  auto send = [&](SentOrder& order) {
    std::error_code ec;
    fs::remove(installation.answers / order.name, ec);
    installation.DropRequest(order.name, OrderRequest(order));
  };

  const char* tables[] = {"1", "2", "3", "4", "5", "6", "21", "22", "23", "24"};
  for (int i = 0; i < orders; ++i) {
    SentOrder order;
    order.name = "PEM" + std::to_string(100000 + i) + ".Xml";
    order.table = tables[i % 10];
    order.stamp = "2026120812" + std::to_string(100000 + i);
    char price[32];
    std::snprintf(price, sizeof price, "%d.%02d", 10 + i / 100, i % 100);
    order.price = price;
    sent.push_back(order);
    SentOrder& current = sent.back();
    send(current);

    const int roll = static_cast<int>(random() % (kill_every * 2));
    if (roll == 0) {
      // At a random moment of the order's life.
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 120));
      restart();
    } else if (roll == 1) {
      // As soon as the order is committed, before its answer is written.
      const auto deadline = std::chrono::steady_clock::now() + 3s;
      while (std::chrono::steady_clock::now() < deadline &&
             installation.Scalar("select count(*) from item_venda_direta where pr_un_it_atd = " + current.price) ==
                 "0") {
      }
      ++kills_after_commit;
      restart();
    } else {
      current.answered = installation.WaitForAnswer(current.name, 5s).has_value();
    }
    // Whatever was not answered is sent again, as a handheld does.
    for (SentOrder& pending : sent) {
      if (pending.answered) continue;
      send(pending);
      pending.answered = installation.WaitForAnswer(pending.name, 5s).has_value();
    }
  }

  int lost = 0;
  int doubled = 0;
  for (const SentOrder& order : sent) {
    EXPECT_TRUE(order.answered) << order.name;
    const std::string lines =
        installation.Scalar("select count(*) from item_venda_direta where pr_un_it_atd = " + order.price);
    if (lines == "0") ++lost;
    if (lines != "0" && lines != "2") ++doubled;
    EXPECT_EQ(lines, "2") << order.name << " price " << order.price;
  }
  EXPECT_EQ(installation.Scalar("select count(*) from venda_direta vd where abs(vd.vl_tot_ite - (select "
                                "coalesce(sum(qt_pro_atd * pr_un_it_atd), 0) from item_venda_direta i where "
                                "i.nr_orc_loc = vd.nr_orc_loc)) > 0.001"),
            "0")
      << "sales whose totals differ from their lines";
  EXPECT_EQ(installation.Scalar("select count(*) from venda_direta vd where not exists (select 1 from local_vnd lv "
                                "where lv.nr_orc_loc = vd.nr_orc_loc)"),
            "0")
      << "sales linked to no table";
  // Every line reached the kitchen: at least once, and more only for a kill
  // between a ticket and its record (at most one two-line ticket a kill).
  EXPECT_EQ(installation.Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N'"), "0");
  EXPECT_EQ(installation.Scalar("select count(*) from item_a_imprimir_pda"), "0");
  int printed = 0;
  for (const auto& ticket : fs::directory_iterator(installation.spool / "COZINHA")) {
    const std::string text = test::ReadFile(ticket.path());
    for (auto at = text.find("FILE MIGNON GRELHADO"); at != std::string::npos;
         at = text.find("FILE MIGNON GRELHADO", at + 1)) {
      ++printed;
    }
  }
  const int lines = 2 * orders;
  EXPECT_GE(printed, lines);
  EXPECT_LE(printed, lines + 2 * kills);
  std::printf("kill test: %d orders, %d kills (%d right after a commit), %d lost, %d stored more than once, "
              "%d of %d lines printed\n",
              orders, kills, kills_after_commit, lost, doubled, printed, lines);
  EXPECT_EQ(service.Terminate(), 0);
}

}  // namespace
}  // namespace orba::e2e
