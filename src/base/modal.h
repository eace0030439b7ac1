// Whether a modal window of ours (a settings dialog, a message box) is up on
// this thread. The host keeps handling its messages meanwhile, and none of
// them may stack a second one.
#pragma once

namespace ledra {

inline bool& ModalWindowUp() {
  thread_local bool up = false;
  return up;
}

// Marks the thread's modal window as up for as long as it shows.
class ModalUp {
 public:
  ModalUp() { ModalWindowUp() = true; }
  ~ModalUp() { ModalWindowUp() = false; }
  ModalUp(const ModalUp&) = delete;
  ModalUp& operator=(const ModalUp&) = delete;
};

}  // namespace ledra
