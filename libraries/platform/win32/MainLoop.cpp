// The Windows main loop: a message-only window that receives WSAAsyncSelect
// notifications, timer ticks, posted calls and the quit request, and the
// thread's message loop, which lets the registered dialog's IsDialogMessage
// see each message first. Every callback is copied before it runs, so it may
// unwatch itself or kill its own timer.
#include "platform/MainLoop.h"

#include <winsock2.h>
// After the socket headers, which must come first.
#include <windows.h>

#include <deque>
#include <map>
#include <mutex>

namespace platform {

namespace {

constexpr UINT kPostedMessage = WM_APP + 1;
constexpr UINT kQuitMessage = WM_APP + 2;
constexpr wchar_t kClassName[] = L"ZeqMainLoop";

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool RegisterLoopClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass) != 0;
  }();
  return registered;
}

// Runs the callback found under key, if any, from a copy.
template <typename Key>
void RunFound(const std::map<Key, MainLoop::Callback>& callbacks, Key key) {
  const auto it = callbacks.find(key);
  if (it == callbacks.end()) return;
  const MainLoop::Callback callback = it->second;
  callback();
}

}  // namespace

struct MainLoop::Impl {
  HWND window = nullptr;
  HWND dialog = nullptr;
  std::map<SOCKET, Callback> sockets;
  std::map<UINT_PTR, Callback> timers;
  int nextTimerId = 1;
  // Guards the posted calls, which any thread adds.
  std::mutex mutex;
  std::deque<Callback> posted;

  void RunPosted() {
    std::deque<Callback> calls;
    {
      std::lock_guard<std::mutex> lock(mutex);
      calls.swap(posted);
    }
    for (const Callback& call : calls) call();
  }
};

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* impl = reinterpret_cast<MainLoop::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (impl == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case MainLoop::kSocketMessage: RunFound(impl->sockets, static_cast<SOCKET>(wParam)); return 0;
    case WM_TIMER: RunFound(impl->timers, static_cast<UINT_PTR>(wParam)); return 0;
    case kPostedMessage: impl->RunPosted(); return 0;
    case kQuitMessage: PostQuitMessage(static_cast<int>(wParam)); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

MainLoop::MainLoop() : impl_(std::make_unique<Impl>()) {
  if (!RegisterLoopClass()) return;
  impl_->window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
  if (impl_->window != nullptr) {
    SetWindowLongPtrW(impl_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
  }
}

MainLoop::~MainLoop() {
  if (impl_->window == nullptr) return;
  for (const auto& [socket, callback] : impl_->sockets) WSAAsyncSelect(socket, impl_->window, 0, 0);
  SetWindowLongPtrW(impl_->window, GWLP_USERDATA, 0);
  DestroyWindow(impl_->window);
}

bool MainLoop::IsValid() const { return impl_->window != nullptr; }

int MainLoop::WatchSocketReadable(SocketHandle socket, Callback onReadable) {
  if (!IsValid() || !onReadable) {
    WSASetLastError(WSAEINVAL);
    return -1;
  }
  const auto native = static_cast<SOCKET>(socket);
  if (WSAAsyncSelect(native, impl_->window, kSocketMessage, FD_READ | FD_CLOSE) != 0) return -1;
  impl_->sockets[native] = std::move(onReadable);
  return 0;
}

void MainLoop::UnwatchSocket(SocketHandle socket) {
  const auto native = static_cast<SOCKET>(socket);
  if (impl_->sockets.erase(native) != 0) WSAAsyncSelect(native, impl_->window, 0, 0);
}

int MainLoop::AddTimer(unsigned periodMs, Callback onTick) {
  if (!IsValid() || !onTick) return 0;
  const int id = impl_->nextTimerId++;
  if (SetTimer(impl_->window, static_cast<UINT_PTR>(id), periodMs == 0 ? 1 : periodMs, nullptr) ==
      0) {
    return 0;
  }
  impl_->timers[static_cast<UINT_PTR>(id)] = std::move(onTick);
  return id;
}

void MainLoop::KillTimer(int id) {
  if (impl_->timers.erase(static_cast<UINT_PTR>(id)) != 0) {
    ::KillTimer(impl_->window, static_cast<UINT_PTR>(id));
  }
}

bool MainLoop::Post(Callback call) {
  if (!IsValid() || !call) return false;
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    wasEmpty = impl_->posted.empty();
    impl_->posted.push_back(std::move(call));
  }
  // One message drains the whole queue, so only the first call posts one.
  return !wasEmpty || PostMessageW(impl_->window, kPostedMessage, 0, 0) != 0;
}

int MainLoop::Run() {
  if (!IsValid()) return -1;
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got < 0) return -1;
    if (impl_->dialog != nullptr && IsDialogMessageW(impl_->dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void MainLoop::Quit(int code) {
  if (IsValid()) PostMessageW(impl_->window, kQuitMessage, static_cast<WPARAM>(code), 0);
}

void MainLoop::SetDialog(void* dialog) { impl_->dialog = static_cast<HWND>(dialog); }

}  // namespace platform
