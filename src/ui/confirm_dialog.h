// The program's message boxes: a modal Yes/No question and a modal notice
// with OK, both without a parent window.
#pragma once

namespace corvanta {

// Shows a modal information dialog without a parent window, with Yes and No
// buttons, and waits for the answer. True only when the user answers Yes;
// No, closing the dialog or a dialog that cannot be made count as No.
bool AskYesNo(const char* title, const char* text);

// Shows a modal information dialog without a parent window, with an OK
// button, and waits until it is answered or closed.
void ShowNotice(const char* title, const char* text);

// Closes every dialog still waiting for an answer (the message boxes, the
// folder chooser) as its close button would: the program is ending and
// nobody is left to answer.
void CloseOpenDialogs();

}  // namespace corvanta
