// What the window logic needs of its window: the host field, the count, the ping button,
// the output area, and the toolkit's input processing and pause.
#pragma once

#include <cstdint>
#include <string>

namespace app {

class MainView {
  public:
    virtual ~MainView() = default;
    virtual std::u16string HostText() = 0;
    virtual void SetHostText(const std::u16string& text) = 0;
    // The count field's integer, or its minimum when the text is not an integer.
    virtual int32_t Count() = 0;
    virtual void SetPingEnabled(bool enabled) = 0;
    virtual void AppendLine(const std::u16string& line) = 0;
    virtual void ClearOutput() = 0;
    virtual void ProcessPendingInput() = 0;
    virtual void Pause(int milliseconds) = 0;
};

}  // namespace app
