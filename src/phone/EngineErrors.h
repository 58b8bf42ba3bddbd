#pragma once
#include <QString>

namespace corvid {

struct WindowContext;

// Who asked for an operation. A refusal of the agent's own click is shown in a message box; a
// request of another program (a dial file, the clipboard, another program's call) never waits for a
// person: its refusal goes to the status log and the program's journal instead.
enum class Asker { Agent, Program };

// The agent-facing message for an engine error code; empty for codes outside the table.
QString engineErrorMessage(int code);

// The message for the engine's last error code, or "engine error N" for a code outside the table.
QString engineRefusal(WindowContext& ctx);

// Asks the engine for its last error code and shows the matching message (nothing for other codes).
void ShowEngineError(WindowContext& ctx);

} // namespace corvid
