// Stand-ins for the modal dialogs until they are built: each records what
// it would show, traces that it is a stand-in, and answers when told to (a
// test, or nobody). An answered dialog deletes itself and then runs the
// callback of the side answered; its creator may delete it earlier.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/wrappers.h"
#include "platform/base/Strings.h"

class CMessageDialog {
 public:
  // A left label id of 0 means no left button. The dialog owns itself.
  static CMessageDialog* Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                const CDelegate& right, int32_t textId, int32_t kind);
  static CMessageDialog* CreateWithText(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                        const CDelegate& right, plat::WStringView text, int32_t kind);
  virtual ~CMessageDialog();

  // Deletes the dialog, then runs the left (true) or right callback.
  void Answer(bool bLeft);

  // The dialogs open now, oldest first.
  static const std::vector<CMessageDialog*>& OpenDialogs();
  // Deletes every open dialog without running a callback (shut-down).
  static void CloseAll();

  int32_t LeftLabelId() const { return m_leftLabelId; }
  int32_t RightLabelId() const { return m_rightLabelId; }
  const plat::WString& Text() const { return m_text; }
  int32_t Kind() const { return m_kind; }

 protected:
  CMessageDialog(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId, const CDelegate& right,
                 plat::WStringView text, int32_t kind);

 private:
  int32_t m_leftLabelId;
  CDelegate m_left;
  int32_t m_rightLabelId;
  CDelegate m_right;
  plat::WString m_text;
  int32_t m_kind;
};

class CProgressDialog : public CMessageDialog {
 public:
  static CProgressDialog* Create(int32_t leftLabelId, const CDelegate& left, int32_t rightLabelId,
                                 const CDelegate& right, int32_t textId, int32_t kind);
  // Maximum at least 1, position clamped to 0..maximum.
  void SetProgress(int32_t position, int32_t maximum);
  int32_t Position() const { return m_position; }
  int32_t Maximum() const { return m_maximum; }

 private:
  using CMessageDialog::CMessageDialog;
  int32_t m_position = 0;
  int32_t m_maximum = 1;
};
