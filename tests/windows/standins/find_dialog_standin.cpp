// Stand-in for the shared find dialog and the text windows' find commands
// while windows/find_dialog.cpp does not exist: no dialog, commands that do
// nothing. The test program links this file only in that case.
#include <string>

#include "windows/find_dialog.h"
#include "windows/shell_text.h"

namespace zema {

TAPLFindDialog* APLFindDialog = nullptr;

// The class's virtual table (the sanitizer's type checks name it).
TAPLFindDialog::~TAPLFindDialog() = default;
void TAPLFindDialog::showEvent(QShowEvent* e) { TAPLStdDialog::showEvent(e); }

std::string TAPLFindDialog::FindText() const { return {}; }

void TAPLShellText::EditFindItemClick() {}
void TAPLShellText::EditFindNextItemClick() {}
void TAPLShellText::EditFindSelectionItemClick() {}
void TAPLShellText::EditReplaceItemClick() {}

}  // namespace zema
