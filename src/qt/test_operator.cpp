#include "qt/test_operator.h"

#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "qt/dialogs.h"

namespace ovix {
namespace {

// Carries out one action if it applies now; false when it has to wait.
bool Apply(QtDriverHost& host, const QString& action) {
  if (action == "clear") {
    host.mnuStergere_Click();
  } else if (action == "exit") {
    host.RunExitSequence();
  } else if (action == "about") {
    host.mnuAbout_Click();
  } else if (action == "close-about" && host.AboutWindow()) {
    host.AboutWindow()->close();
  } else if (host.NoAnswerBox() && (action == "ok" || action == "cancel")) {
    host.NoAnswerBox()->button(action == "ok" ? QMessageBox::Ok : QMessageBox::Cancel)->click();
  } else if (host.PaymentQuestionBox() && (action == "yes" || action == "no")) {
    QtDriverHost::PaymentButton(host.PaymentQuestionBox(), action == "yes" ? "Da" : "Nu")->click();
  } else if (auto* dialog = qobject_cast<PrintErrorDialog*>(host.ErrorDialogWindow())) {
    const QStringList buttons{"retry", "cancel-receipt", "give-up"};
    if (buttons.contains(action)) {
      dialog->Button(buttons.indexOf(action))->click();
    } else if (action == "close") {
      dialog->reject();
    } else {
      return false;
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace

void StartTestOperator(QtDriverHost& host) {
  if (const char* noWatch = std::getenv("OVIXNOVA_TEST_NO_WATCH"); noWatch && *noWatch)
    host.DisableSpoolWatch();
  const char* path = std::getenv("OVIXNOVA_TEST_OPERATOR");
  if (!path || !*path) return;
  auto* poll = new QTimer(&host);
  poll->start(50);
  QObject::connect(
      poll, &QTimer::timeout, &host,
      [&host, file = QString::fromLocal8Bit(path), done = 0]() mutable {
        QFile script(file);
        if (!script.open(QIODevice::ReadOnly)) return;
        const QList<QByteArray> lines = script.readAll().split('\n');
        // A line counts once it is complete (ends with a newline).
        if (done + 1 < lines.size() && Apply(host, QString::fromUtf8(lines[done]).trimmed()))
          ++done;
      });
}

}  // namespace ovix
