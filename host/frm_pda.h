#pragma once
// The operator's window: the state of the exchange, the files waiting in the
// two exchange folders, which handhelds answer, and the stop button. It lives
// hidden behind an icon in the notification area.

#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QSocketNotifier;
class QTimer;

namespace orba {

class QtReachability;
class Service;
struct PollingState;

class FrmPDA : public QWidget {
 public:
  // `tray_available`: whether the desktop has a notification area
  // (QSystemTrayIcon::isSystemTrayAvailable()).
  FrmPDA(Service& service, QtReachability& reachability, bool tray_available, QWidget* parent = nullptr);

  // The end of start-up: the icon goes to the notification area and the
  // window hides; without a notification area the window stays shown, and
  // the event log says why, once. Starts Timer1 and Timer2, and the wake-up
  // on a request's arrival, and lists the handhelds at once rather than
  // after Timer2's first minute.
  void FinishStartUp();

  // Timer1 and a request's arrival: a polling cycle unless one is running (a
  // message box of the cycle lets these events through), then the window
  // shows its state.
  void OnTimer1();
  // Status label and the two file lists from the polling state.
  void ShowPollingState();
  // A right click on the icon shows the window; anything else does nothing.
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
  // "Esconder": hidden behind the icon, or minimised where there is none.
  void Esconder();
  // The stop sequence: closes the database session, removes the icon and
  // ends the process with status 0 without waiting for anything.
  void StopService();

  // How the process ends (tests put their own). By default the event loop
  // is left, or, in the middle of a polling cycle or a modal box, the
  // process ends at once.
  void SetEndProcess(std::function<void(int status)> end) { end_process_ = std::move(end); }
  QSystemTrayIcon* TrayIcon() const { return tray_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  Service& service_;
  QtReachability& reachability_;
  bool tray_available_;
  bool stopping_ = false;
  std::function<void(int)> end_process_;
  std::vector<std::string> shown_request_files_;
  std::vector<std::string> shown_answer_files_;

  QLabel* lblStt;
  QLabel* lblVersao;
  QLabel* lblInstalacao;  // base folder, database, business day, service mode
  QListWidget* listImp;
  QListWidget* filePda;
  QListWidget* fileOrba;
  QPushButton* cmdPing;
  QPushButton* cmdParar;
  QPushButton* cmdEsconder;
  QLabel* imgIcon1;
  QTimer* Timer1;
  QTimer* Timer2;
  QSocketNotifier* arrivals_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
};

// What lblStt says: "Aguardando" while no request is in work, "Processando
// NAME" while one is.
std::string StatusText(const PollingState& polling);
// The installation the service works on, in one line: base folder, database,
// business day and service mode.
std::string InstallationLine(Service& service);

// "Lucida Console" 10 bold where installed, else the system's fixed-pitch
// font, 10 and bold: the padded addresses form a column.
QFont ReachabilityFont();

}  // namespace orba
