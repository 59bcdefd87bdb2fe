#include "host/frm_pda.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <unistd.h>

#include <cstdio>

#include "common/general_parameters.h"
#include "common/operator.h"
#include "exchange/polling_state.h"
#include "host/app_icon.h"
#include "host/qt_reachability.h"
#include "host/service.h"

namespace orba {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QLabel* Caption(const char* text, QWidget* parent) { return new QLabel(QString::fromUtf8(text), parent); }

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

void ShowFiles(QListWidget* list, const std::vector<std::string>& files, std::vector<std::string>& shown) {
  if (files == shown) return;
  shown = files;
  list->clear();
  for (const std::string& name : files) list->addItem(Text(name));
}

}  // namespace

std::string StatusText(const PollingState& polling) {
  if (polling.Busy && !polling.CurrentFile.empty()) return "Processando " + polling.CurrentFile;
  return "Aguardando";
}

std::string InstallationLine(Service& service) {
  const GeneralParameters& parameters = service.parameters();
  return "Pasta base: " + parameters.BaseFolder + "   Banco: " + service.DatabaseLine() +
         "   Dia de movimento: " + parameters.BusinessDay +
         "   Modo: " + (parameters.IsComandaMode() ? "comanda" : "mesa");
}

QFont ReachabilityFont() {
  QFont font;
  if (QFontDatabase::families().contains(QStringLiteral("Lucida Console"))) {
    font = QFont(QStringLiteral("Lucida Console"));
  } else {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  font.setPointSize(10);
  font.setBold(true);
  return font;
}

FrmPDA::FrmPDA(Service& service, QtReachability& reachability, bool tray_available, QWidget* parent)
    : QWidget(parent), service_(service), reachability_(reachability), tray_available_(tray_available) {
  setObjectName(QStringLiteral("FrmPDA"));
  setWindowTitle(QStringLiteral("OrbaPDA"));
  setWindowIcon(MakeAppIcon());

  lblStt = Named(new QLabel(Text(StatusText(service.polling())), this), "lblStt");
  lblVersao = Named(new QLabel(Text(service.VersionLabel()), this), "lblVersao");
  lblInstalacao = Named(new QLabel(Text(InstallationLine(service)), this), "lblInstalacao");
  lblInstalacao->setWordWrap(true);
  lblInstalacao->setTextInteractionFlags(Qt::TextSelectableByMouse);
  listImp = Named(new QListWidget(this), "listImp");
  listImp->setFont(ReachabilityFont());
  filePda = Named(new QListWidget(this), "filePda");
  fileOrba = Named(new QListWidget(this), "fileOrba");
  cmdPing = Named(new QPushButton(QStringLiteral("Procurar PDA's"), this), "cmdPing");
  cmdParar = Named(new QPushButton(QStringLiteral("Parar o OrbaPDA"), this), "cmdParar");
  cmdEsconder = Named(new QPushButton(QStringLiteral("Esconder"), this), "cmdEsconder");
  imgIcon1 = Named(new QLabel(this), "imgIcon1");
  imgIcon1->setPixmap(MakeAppIcon().pixmap(32, 32));
  imgIcon1->hide();
  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(100);
  Timer2 = Named(new QTimer(this), "Timer2");
  Timer2->setInterval(60000);

  auto* grid = new QGridLayout;
  grid->addWidget(Caption("Status Atual", this), 0, 0);
  grid->addWidget(lblStt, 0, 1);
  grid->addWidget(Caption("Data da Versão:", this), 1, 0);
  grid->addWidget(lblVersao, 1, 1);
  grid->addWidget(Caption("PDA(s) conectado(s)", this), 2, 0, Qt::AlignTop);
  grid->addWidget(listImp, 2, 1);
  auto* files = new QGridLayout;
  files->addWidget(Caption("Comandos pendentes PDA", this), 0, 0);
  files->addWidget(filePda, 1, 0);
  files->addWidget(Caption("Comandos pendentes ORBA", this), 0, 1);
  files->addWidget(fileOrba, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdPing);
  buttons->addStretch();
  buttons->addWidget(cmdEsconder);
  buttons->addWidget(cmdParar);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblInstalacao);
  layout->addLayout(grid);
  layout->addLayout(files);
  layout->addLayout(buttons);
  resize(560, 420);

  end_process_ = [this](int status) {
    // Inside a polling cycle or a modal box the stack still holds work that
    // must not go on after the session is closed.
    if (service_.polling().Busy || QThread::currentThread()->loopLevel() > 1) {
      std::fflush(nullptr);
      _exit(status);
    }
    QCoreApplication::exit(status);
  };

  ReachabilityMonitor& monitor = reachability_.monitor();
  monitor.on_cleared = [this]() {
    listImp->setFont(ReachabilityFont());
    listImp->clear();
  };
  monitor.on_line = [this](const std::string& line) { listImp->addItem(Text(line)); };

  connect(cmdPing, &QPushButton::clicked, this, [this]() { reachability_.Refresh(); });
  connect(cmdParar, &QPushButton::clicked, this, &FrmPDA::StopService);
  connect(cmdEsconder, &QPushButton::clicked, this, &FrmPDA::Esconder);
  connect(Timer1, &QTimer::timeout, this, &FrmPDA::OnTimer1);
  connect(Timer2, &QTimer::timeout, this, [this]() { reachability_.Refresh(); });

  ShowPollingState();
}

void FrmPDA::FinishStartUp() {
  if (tray_available_) {
    tray_ = new QSystemTrayIcon(MakeAppIcon(), this);
    tray_->setToolTip(QStringLiteral("Orba PDA"));
    connect(tray_, &QSystemTrayIcon::activated, this, &FrmPDA::OnTrayActivated);
    tray_->show();
    hide();
  } else {
    show();
    service_.context().op.LogEvent(
        "Não há área de notificação nesta área de trabalho: a janela do OrbaPDA fica aberta "
        "(Esconder a minimiza).");
  }
  Timer1->start();
  Timer2->start();
  reachability_.Refresh();
  const int arrivals = service_.intake().EventDescriptor();
  if (arrivals >= 0) {
    arrivals_ = new QSocketNotifier(arrivals, QSocketNotifier::Read, this);
    connect(arrivals_, &QSocketNotifier::activated, this, &FrmPDA::OnTimer1);
  }
}

void FrmPDA::OnTimer1() {
  service_.Poll();
  ShowPollingState();
}

void FrmPDA::ShowPollingState() {
  const PollingState& polling = service_.polling();
  lblStt->setText(Text(StatusText(polling)));
  ShowFiles(filePda, polling.AnswerFiles, shown_answer_files_);
  ShowFiles(fileOrba, polling.RequestFiles, shown_request_files_);
}

void FrmPDA::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::Context) return;
  showNormal();
  raise();
  activateWindow();
}

void FrmPDA::Esconder() {
  if (tray_ != nullptr && tray_->isVisible()) {
    hide();
  } else {
    showMinimized();  // never out of reach
  }
}

void FrmPDA::StopService() {
  if (stopping_) return;
  stopping_ = true;
  reachability_.monitor().Cancel();
  Timer1->stop();
  Timer2->stop();
  if (arrivals_ != nullptr) arrivals_->setEnabled(false);
  service_.Stop();
  if (tray_ != nullptr) tray_->hide();
  end_process_(0);
}

void FrmPDA::closeEvent(QCloseEvent* event) {
  // The close cannot be cancelled: the icon goes, then the service stops.
  event->accept();
  if (tray_ != nullptr) tray_->hide();
  StopService();
}

}  // namespace orba
