// The program's one kind of question: a modal Yes/No message box.
#pragma once

namespace corvanta {

// Shows a modal information dialog without a parent window, with Yes and No
// buttons, and waits for the answer. True only when the user answers Yes;
// No, closing the dialog or a dialog that cannot be made count as No.
bool AskYesNo(const char* title, const char* text);

}  // namespace corvanta
