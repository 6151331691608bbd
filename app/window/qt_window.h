// The tool's window in Qt Widgets: the controls of the form, laid out to the pixel, as the
// view of the window logic.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QWidget>
#include <memory>

#include "app/unit1/unit1.h"
#include "app/unit1/view.h"

namespace app {

// The count field: digits, signs, the decimal separator and control keys may be typed;
// Enter and anything else are refused with a beep.
class CountField : public QSpinBox {
  public:
    explicit CountField(QWidget* parent);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Any integer may be typed; one outside the range is corrected when editing ends.
    QValidator::State validate(QString& text, int& position) const override;
    void focusOutEvent(QFocusEvent* event) override;
};

class MainWindow : public QWidget, public MainView {
  public:
    MainWindow();
    ~MainWindow() override;

    // Creates the window logic with its ping component (raises EcrvPing -1 without one).
    void CreateForm();
    TfrmMain& Form() { return *form_; }

    std::u16string HostText() override;
    void SetHostText(const std::u16string& text) override;
    int32_t Count() override;
    void SetPingEnabled(bool enabled) override;
    void AppendLine(const std::u16string& line) override;
    void ClearOutput() override;
    void ProcessPendingInput() override;
    void Pause(int milliseconds) override;

    QLineEdit* edtIp;
    QPushButton* btnPing;
    QPlainTextEdit* Memo1;
    QPushButton* btnClear;
    CountField* SpinEdit1;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The engine's queue, dispatched by Qt's own loop while no engine call pumps it.
    void DispatchEngineQueue();
    static void ProcessQtInput(void* context);
    void ProcessQtEvents();

    std::unique_ptr<TfrmMain> form_;
    QSocketNotifier* engineQueue_ = nullptr;
    int qtEventNesting_ = 0;
    bool shown_ = false;
};

}  // namespace app
