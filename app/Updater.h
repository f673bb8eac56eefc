// Asks the server whether a newer version exists, asks the user whether to
// install it, downloads "update.cab" into the preview store's folder with a
// progress dialog, hands it to the shell and quits so that it can replace the
// program. One updater lives from start-up to shut-down; UI thread only.
#pragma once

#include <cstdint>

#include "app/QuorelModalDialogs.h"
#include "framework/Events.h"
#include "net/HTTPSink.h"
#include "net/HTTPWrapper.h"
#include "protocol/SearchResults.h"

class Updater : public CEventListenerFor<FileDownloadEvent> {
 public:
  enum : int32_t { StateIdle = 0, StateChecking = 1, StateAsking = 2, StateDownloading = 3 };

  // A new updater, subscribed to the download progress, with a stale
  // "update.cab" deleted.
  static Updater* Create();
  ~Updater() override;
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // Cancels whatever runs and asks the server; a user-initiated check
  // reports every outcome, a silent one only an offer.
  void CheckForUpdate(uint8_t bUserInitiated);
  // Closes the request and the dialogs and the package file; back to idle.
  void Cancel();

  void OnCheckReply();
  void OnAnswer(int32_t answer);  // 1 yes, 0 no
  void Download(plat::WStringView url);
  void OnDownload();
  void OnProgressCancelled();

  int32_t State() const { return m_state; }
  CMessageDialog* QuestionDialog() const { return m_question; }
  CProgressDialog* ProgressDialog() const { return m_progress; }

  // Nothing in the server's replies declares an update required yet; tests
  // reach the required paths through this.
  static void SetRequiredUpdateForTests(bool bRequired);

 protected:
  void HandleEvent(const TFileDownloadProgress& progress) override;

 private:
  Updater();
  void Init();
  void OnAnswerArgument(void* pArgument) { OnAnswer(pArgument ? 1 : 0); }
  void EndWithMessage(int32_t nTextId);
  // Closes the package file and, unless its download completed, removes it.
  void DropPackage();
  // The right button's label: "no"/"cancel", or "exit" for a required update.
  int32_t RightLabelId() const;

  int32_t m_state = StateIdle;
  CMessageDialog* m_question = nullptr;
  CProgressDialog* m_progress = nullptr;
  CHTTPFileSink* m_fileSink = nullptr;  // counted by the updater
  // "update.cab" holds a download that has not completed.
  bool m_bPartialPackage = false;
  CHTTPRequest m_request;
  uint8_t m_userInitiated = 0;
  CSearchResults m_updateReply;
  uint8_t m_required = 0;
};
