#include "host/frm_pda.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "exchange/polling_state.h"
#include "host/fake_pinger.h"
#include "host/qt_reachability.h"
#include "host/service.h"
#include "support/recording_operator.h"
#include "support/recording_printer.h"
#include "support/test_database.h"

namespace orba {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// A started service on a throw-away installation (demo database, the
// handhelds' addresses of the test) with its window.
class Window {
 public:
  explicit Window(bool tray_available, const Lines& handhelds = {}) {
    for (const char* folder : {"loja/xml/Enviar", "loja/xml/Receber", "loja/xml/Fixos", "etc"}) {
      fs::create_directories(root.path() / folder);
    }
    test::WriteFile(root.path() / "etc/ORBA.INI", "<RO><CONFIG SR=\"" + base() + "\"/></RO>");
    test::CreateDatabaseFile(base() + "ORBA.MDB", true);
    service = std::make_unique<Service>(op, std::make_unique<test::RecordingPrinter>(), clock);
    EXPECT_TRUE(service->Start((root.path() / "etc").string()));
    service->session().ExecuteSql("delete from IP_FIXO_PDA");
    int id = 0;
    for (const std::string& address : handhelds) {
      service->session().ExecuteSql("insert into IP_FIXO_PDA values (1, " + std::to_string(++id) + ", '" + address +
                                    "')");
    }
    reachability = std::make_unique<QtReachability>(*service, pinger);
    frm = std::make_unique<FrmPDA>(*service, *reachability, tray_available);
    frm->SetEndProcess([this](int status) { ended.push_back(status); });
  }

  std::string base() const { return (root.path() / "loja").string() + "/"; }
  template <typename T>
  T* Element(const char* name) {
    T* element = frm->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(element, nullptr) << name;
    return element;
  }
  static Lines Items(QListWidget* list) {
    Lines items;
    for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
    return items;
  }

  test::TempFolder root;
  test::RecordingOperator op;
  SystemClock clock;
  std::shared_ptr<test::FakePinger> pinger = std::make_shared<test::FakePinger>(std::set<std::string>{"10.0.0.9"});
  std::unique_ptr<Service> service;
  std::unique_ptr<QtReachability> reachability;
  std::unique_ptr<FrmPDA> frm;
  std::vector<int> ended;
};

TEST(FrmPDA, ShowsEveryElementWithItsCaption) {
  Window w(true);
  EXPECT_EQ(w.frm->windowTitle(), "OrbaPDA");
  EXPECT_EQ(w.Element<QLabel>("lblStt")->text(), "Aguardando");
  EXPECT_EQ(w.Element<QLabel>("lblVersao")->text(), "20/08/2008 - Release 9");
  EXPECT_EQ(w.Element<QLabel>("lblInstalacao")->text().toStdString(),
            "Pasta base: " + w.base() + "   Banco: SQLite " + w.base() + "ORBA.MDB   Dia de movimento: " +
                w.service->parameters().BusinessDay + "   Modo: mesa");
  EXPECT_FALSE(w.service->parameters().BusinessDay.empty());
  EXPECT_EQ(w.Element<QPushButton>("cmdPing")->text(), "Procurar PDA's");
  EXPECT_EQ(w.Element<QPushButton>("cmdParar")->text(), "Parar o OrbaPDA");
  EXPECT_EQ(w.Element<QPushButton>("cmdEsconder")->text(), "Esconder");
  for (const char* list : {"listImp", "filePda", "fileOrba"}) w.Element<QListWidget>(list);
  EXPECT_EQ(w.Element<QTimer>("Timer1")->interval(), 100);
  EXPECT_EQ(w.Element<QTimer>("Timer2")->interval(), 60000);
  EXPECT_FALSE(w.Element<QLabel>("imgIcon1")->isVisibleTo(w.frm.get()));

  QStringList captions;
  for (const QLabel* label : w.frm->findChildren<QLabel*>()) captions << label->text();
  for (const char* caption : {"Status Atual", "Data da Versão:", "PDA(s) conectado(s)", "Comandos pendentes PDA",
                              "Comandos pendentes ORBA"}) {
    EXPECT_TRUE(captions.contains(QString::fromUtf8(caption))) << caption;
  }
}

TEST(FrmPDA, TrayIconShowsTheWindowOnARightClickOnlyAndEsconderHidesIt) {
  Window w(true);
  w.frm->FinishStartUp();
  QSystemTrayIcon* tray = w.frm->TrayIcon();
  ASSERT_NE(tray, nullptr);
  EXPECT_TRUE(tray->isVisible());
  EXPECT_EQ(tray->toolTip(), "Orba PDA");
  EXPECT_FALSE(tray->icon().isNull());
  EXPECT_FALSE(w.frm->isVisible()) << "hidden after start-up";

  for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
    emit tray->activated(reason);
    EXPECT_FALSE(w.frm->isVisible()) << reason;
  }
  emit tray->activated(QSystemTrayIcon::Context);
  EXPECT_TRUE(w.frm->isVisible());

  QTest::mouseClick(w.Element<QPushButton>("cmdEsconder"), Qt::LeftButton);
  EXPECT_FALSE(w.frm->isVisible());
  EXPECT_TRUE(tray->isVisible());
  EXPECT_TRUE(w.ended.empty());
  EXPECT_TRUE(w.op.events.empty());
}

TEST(FrmPDA, WithoutANotificationAreaTheWindowStaysWithinReachAndSaysSoOnce) {
  Window w(false);
  w.frm->FinishStartUp();
  EXPECT_EQ(w.frm->TrayIcon(), nullptr);
  EXPECT_TRUE(w.frm->isVisible());
  ASSERT_EQ(w.op.events.size(), 1u);
  EXPECT_NE(w.op.events[0].find("área de notificação"), std::string::npos) << w.op.events[0];

  QTest::mouseClick(w.Element<QPushButton>("cmdEsconder"), Qt::LeftButton);
  EXPECT_TRUE(w.frm->isVisible());
  EXPECT_TRUE(w.frm->isMinimized());
  EXPECT_EQ(w.op.events.size(), 1u);
}

TEST(FrmPDA, FileListsAndStatusFollowThePollingState) {
  Window w(true);
  test::WriteFile(w.base() + "xml/Enviar/XYZ1.Xml", "<x/>");  // a code nobody serves stays in work
  test::WriteFile(w.base() + "xml/Receber/keep.dat", "x");
  w.frm->OnTimer1();
  EXPECT_EQ(Window::Items(w.Element<QListWidget>("fileOrba")), Lines{"XYZ1.Tmp"});
  EXPECT_EQ(Window::Items(w.Element<QListWidget>("filePda")), Lines{"keep.dat"});
  EXPECT_EQ(w.Element<QLabel>("lblStt")->text(), "Aguardando");

  // A message box of a running cycle lets the timer through: the window shows
  // the cycle at work and starts no second one.
  PollingState& polling = w.service->polling();
  polling.Busy = true;
  polling.CurrentFile = "PEM0001.Xml";
  test::WriteFile(w.base() + "xml/Enviar/XYZ2.Xml", "<x/>");
  w.frm->OnTimer1();
  EXPECT_EQ(w.Element<QLabel>("lblStt")->text(), "Processando PEM0001.Xml");
  EXPECT_TRUE(fs::exists(w.base() + "xml/Enviar/XYZ2.Xml"));

  polling.Busy = false;
  w.frm->OnTimer1();
  EXPECT_EQ(w.Element<QLabel>("lblStt")->text(), "Aguardando");
  const Lines expected = {"XYZ1.Tmp", "XYZ2.Tmp"};
  Lines shown = Window::Items(w.Element<QListWidget>("fileOrba"));
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, expected);
}

TEST(FrmPDA, StopButtonAndCloseBoxRunTheStopSequence) {
  for (bool close_box : {false, true}) {
    Window w(true);
    w.frm->FinishStartUp();
    emit w.frm->TrayIcon()->activated(QSystemTrayIcon::Context);
    ASSERT_TRUE(w.service->session().IsOpen());
    if (close_box) {
      w.frm->close();
    } else {
      QTest::mouseClick(w.Element<QPushButton>("cmdParar"), Qt::LeftButton);
    }
    EXPECT_FALSE(w.service->session().IsOpen()) << close_box;
    EXPECT_FALSE(w.frm->TrayIcon()->isVisible()) << close_box;
    EXPECT_FALSE(w.Element<QTimer>("Timer1")->isActive()) << close_box;
    EXPECT_EQ(w.ended, std::vector<int>{0}) << close_box;
  }
}

TEST(FrmPDA, PingButtonListsTheHandheldsInTextOrderInABoldFixedFont) {
  Window w(true, {"10.0.0.9", "10.0.0.10", "10.0.0.300"});
  auto* list = w.Element<QListWidget>("listImp");
  list->addItem("old line");
  // Not while a polling cycle is in the middle of its work (the session's
  // statement buffer is shared), but as soon as it is over.
  w.service->polling().Busy = true;
  QTest::mouseClick(w.Element<QPushButton>("cmdPing"), Qt::LeftButton);
  QTest::qWait(250);
  EXPECT_EQ(Window::Items(list), Lines{"old line"});
  w.service->polling().Busy = false;
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 3; }, 10000)) << list->count();
  EXPECT_EQ(Window::Items(list), (Lines{"10.0.0.10       ==> desconectado", "10.0.0.300      ==> desconectado",
                                        "10.0.0.9        ==> conectado"}));
  const QFont font = list->font();
  EXPECT_TRUE(font.bold());
  EXPECT_EQ(font.pointSize(), 10);
  const bool lucida = QFontDatabase::families().contains("Lucida Console");
  EXPECT_EQ(font.family(), lucida ? QString("Lucida Console")
                                  : QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
}

TEST(FrmPDA, TheHandheldListIsFilledAtStartUp) {
  Window w(true, {"10.0.0.9"});
  w.frm->FinishStartUp();
  auto* list = w.Element<QListWidget>("listImp");
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1; }, 10000)) << list->count();
  EXPECT_EQ(Window::Items(list), Lines{"10.0.0.9        ==> conectado"});
}

}  // namespace
}  // namespace orba
