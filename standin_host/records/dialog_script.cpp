#include "standin_host/records/dialog_script.h"

const char* FieldName(DialogField field) {
  switch (field) {
    case DialogField::kEnabled:
      return "enabled";
    case DialogField::kBitRate:
      return "bitRate";
    case DialogField::kQuality:
      return "quality";
    case DialogField::kPreprocessing:
      return "preprocessing";
  }
  return "?";
}

const char* EndingName(DialogEnding ending) {
  switch (ending) {
    case DialogEnding::kOk:
      return "OK button";
    case DialogEnding::kCancel:
      return "Cancel button";
    case DialogEnding::kEnter:
      return "Enter key";
    case DialogEnding::kEscape:
      return "Escape key";
    case DialogEnding::kCloseBox:
      return "close box";
    case DialogEnding::kWaitForUser:
      break;
  }
  return "own ending";
}

INT_PTR ExpectedResult(DialogEnding ending) {
  return ending == DialogEnding::kOk || ending == DialogEnding::kEnter ? IDOK : IDCANCEL;
}
