#include "app/QuorelModalDialogs.h"

#include <algorithm>

#include "framework/Resources.h"
#include "framework/Trace.h"

namespace {

std::vector<CMessageDialog*>& Open() {
  static std::vector<CMessageDialog*> open;
  return open;
}

}  // namespace

CMessageDialog::CMessageDialog(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                               const CDelegate& right, plat::WStringView text, int32_t kind)
    : m_leftLabelId(leftLabelId),
      m_left(left),
      m_rightLabelId(rightLabelId),
      m_right(right),
      m_text(text),
      m_kind(kind) {
  Open().push_back(this);
  DebugTrace(u"[QUOREL] dialog stand-in (kind %d, buttons %d/%d): %s\n", kind, leftLabelId, rightLabelId, m_text);
}

CMessageDialog::~CMessageDialog() {
  auto& open = Open();
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
}

CMessageDialog* CMessageDialog::Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                       const CDelegate& right, int32_t textId, int32_t kind) {
  return new CMessageDialog(leftLabelId, left, rightLabelId, right, CResources::GetString(textId), kind);
}

CMessageDialog* CMessageDialog::CreateWithText(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                               const CDelegate& right, plat::WStringView text, int32_t kind) {
  return new CMessageDialog(leftLabelId, left, rightLabelId, right, text, kind);
}

void CMessageDialog::Answer(bool bLeft) {
  // Gone before the callback runs, so a callback that cleans up its
  // creator's dialogs never meets this one.
  CDelegate callback = bLeft ? m_left : m_right;
  delete this;
  callback.Call();
}

const std::vector<CMessageDialog*>& CMessageDialog::OpenDialogs() { return Open(); }

void CMessageDialog::CloseAll() {
  while (!Open().empty()) delete Open().back();
}

CProgressDialog* CProgressDialog::Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                         const CDelegate& right, int32_t textId, int32_t kind) {
  return new CProgressDialog(leftLabelId, left, rightLabelId, right, CResources::GetString(textId), kind);
}

void CProgressDialog::SetProgress(int32_t position, int32_t maximum) {
  m_maximum = std::max(maximum, 1);
  m_position = std::clamp(position, 0, m_maximum);
}
