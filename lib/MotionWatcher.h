#pragma once
// Completion watcher: after a plain motion has been started, polls the ready
// flag (and now and then the error flag) and clears Busy when the motion ends.
#include <memory>

namespace krb {

class TKRB_Class;

class KRB_Init_Thread {
  public:
    // Starts a detached watcher that holds the unit alive until it ends.
    static void Start(std::shared_ptr<TKRB_Class> unit);

  private:
    explicit KRB_Init_Thread(std::shared_ptr<TKRB_Class> unit) : unit_(std::move(unit)) {}
    void Execute();
    bool errorRaised();

    std::shared_ptr<TKRB_Class> unit_;
};

}  // namespace krb
