#include "qt/test_operator.h"

#include <QPushButton>
#include <QTimer>
#include <memory>

#include "app/operator_script.h"
#include "app/ui_tables.h"
#include "qt/dialogs.h"

namespace ovix {
namespace {

// The operator's clicks on the Qt widgets of `host`.
class QtHands : public OperatorHands {
 public:
  explicit QtHands(QtDriverHost& host) : host_(host) {}
  bool CloseAbout() override {
    if (!host_.AboutWindow()) return false;
    host_.AboutWindow()->close();
    return true;
  }
  bool AnswerNoAnswerBox(bool ok) override {
    if (!host_.NoAnswerBox()) return false;
    host_.NoAnswerBox()->button(ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    return true;
  }
  bool AnswerPaymentQuestion(bool yes) override {
    QPushButton* button = QtDriverHost::PaymentButton(host_.PaymentQuestionBox(),
                                                      yes ? ui::kPaymentYes : ui::kPaymentNo);
    if (!button) return false;
    button->click();
    return true;
  }
  bool PressErrorButton(int index) override {
    auto* dialog = qobject_cast<PrintErrorDialog*>(host_.ErrorDialogWindow());
    if (!dialog) return false;
    dialog->Button(index)->click();
    return true;
  }
  bool CloseErrorDialog() override {
    if (!host_.ErrorDialogWindow()) return false;
    host_.ErrorDialogWindow()->reject();
    return true;
  }

 private:
  QtDriverHost& host_;
};

}  // namespace

void StartTestOperator(QtDriverHost& host) {
  OperatorSetup setup = ReadOperatorSetup();
  if (setup.noWatch) host.DisableSpoolWatch();
  if (!setup.script) return;
  auto* poll = new QTimer(&host);
  poll->start(50);
  QObject::connect(
      poll, &QTimer::timeout, &host,
      [script = std::shared_ptr<OperatorScript>(std::move(setup.script)),
       hands = std::make_shared<QtHands>(host), &host] { script->Step(host, *hands); });
}

}  // namespace ovix
