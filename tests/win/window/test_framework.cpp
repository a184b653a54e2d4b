// The framework's dispatch on real windows under the platform's own window
// and dialog managers: map chaining, typed arguments, default processing,
// subclassing and its undoing, the creation handler of a dialog, modal runs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/framework.h"
#include "framework_test_ids.h"

namespace {

constexpr UINT WM_FW_SCRIPT = WM_APP + 1;
constexpr UINT WM_FW_PROBE = WM_APP + 2;

// Records every handler call in order.
std::vector<std::string> g_calls;

std::wstring TextOf(HWND hWnd) {
  wchar_t sz[256] = L"";
  ::GetWindowTextW(hWnd, sz, 256);
  return sz;
}

// A plain control object whose handlers record what reached them.
class CProbeCtrl : public CWnd {
 public:
  POINT m_ptDown{-1000, -1000};
  int m_nMoveX = -1, m_nMoveY = -1;
  int m_nSizeX = -1, m_nSizeY = -1;
  BOOL m_bEnable = -1;
  HWND m_hWndAtPreSubclass = nullptr;
  WNDPROC m_pfnAtPreSubclass = nullptr;
  LRESULT m_lSetTextDefault = -1;
  bool m_bSendInside = false;  // OnSetText sends another message before Default()

 protected:
  void PreSubclassWindow() override {
    m_hWndAtPreSubclass = m_hWnd;
    m_pfnAtPreSubclass = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC));
  }
  void OnLButtonDown(UINT, POINT pt) {
    g_calls.push_back("probe.lbuttondown");
    m_ptDown = pt;
  }
  void OnMove(int x, int y) {
    m_nMoveX = x;
    m_nMoveY = y;
    Default();
  }
  void OnSize(UINT, int cx, int cy) {
    m_nSizeX = cx;
    m_nSizeY = cy;
    Default();
  }
  void OnEnable(BOOL bEnable) {
    m_bEnable = bEnable;
    Default();
  }
  LRESULT OnSetText(WPARAM, LPARAM) {
    g_calls.push_back("probe.settext");
    // A nested message to the same window must not disturb Default() below.
    if (m_bSendInside) SendMessageW(WM_FW_PROBE, 0, 0);
    m_lSetTextDefault = Default();
    return m_lSetTextDefault;
  }
  LRESULT OnProbe(WPARAM, LPARAM) {
    g_calls.push_back("probe.probe");
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeCtrl, CWnd)
ON_WM_LBUTTONDOWN()
ON_WM_MOVE()
ON_WM_SIZE()
ON_WM_ENABLE()
ON_MESSAGE(WM_SETTEXT, &CProbeCtrl::OnSetText)
ON_MESSAGE(WM_FW_PROBE, &CProbeCtrl::OnProbe)
END_MESSAGE_MAP()

// A derived control: overrides one handler of its base, adds another.
class CDerivedProbe : public CProbeCtrl {
 protected:
  void OnLButtonDown(UINT, POINT) { g_calls.push_back("derived.lbuttondown"); }
  void OnMouseLeave() { g_calls.push_back("derived.mouseleave"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedProbe, CProbeCtrl)
ON_WM_LBUTTONDOWN()
ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

// A dialog whose handlers record the order of creation and commands; a
// script runs once the modal loop is up.
class CTestDialog : public CDialog {
 public:
  CTestDialog() : CDialog(IDD_FW_TEST) {}
  std::function<void(CTestDialog&)> m_script;
  int m_nCreateResult = 0;
  DWORD m_dwStyleAtCreate = 0;
  LRESULT m_lCreateDefault = 12345;
  bool m_bCreateSawWindow = false;
  CWnd m_action;  // nothing mapped: the button behaves as it always does
  CProbeCtrl m_label;
  int m_nActionClicks = 0;
  int m_nActionOtherCode = 0;

  using CWnd::Default;

 protected:
  int OnCreate(LPCREATESTRUCTW lpcs) {
    g_calls.push_back("dlg.create");
    m_dwStyleAtCreate = static_cast<DWORD>(lpcs->style);
    m_bCreateSawWindow = ::IsWindow(m_hWnd) && FromHandlePermanent(m_hWnd) == this;
    m_lCreateDefault = Default();
    return m_nCreateResult;
  }
  void DoDataExchange(CDataExchange* pDX) override {
    g_calls.push_back("dlg.ddx");
    DDX_Control(pDX, IDC_FW_ACTION, m_action);
    DDX_Control(pDX, IDC_FW_LABEL, m_label);
  }
  BOOL OnInitDialog() override {
    g_calls.push_back("dlg.initdialog");
    CDialog::OnInitDialog();
    if (m_script) PostMessageW(WM_FW_SCRIPT);
    return TRUE;
  }
  void OnOK() override {
    g_calls.push_back("dlg.ok");
    CDialog::OnOK();
  }
  void OnDestroy() {
    g_calls.push_back("dlg.destroy");
    Default();
  }
  LRESULT OnScript(WPARAM, LPARAM) {
    m_script(*this);
    return 0;
  }
  void OnActionClicked() { ++m_nActionClicks; }
  void OnActionDoubleClicked() { ++m_nActionOtherCode; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDialog, CDialog)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_MESSAGE(WM_FW_SCRIPT, &CTestDialog::OnScript)
ON_BN_CLICKED(IDC_FW_ACTION, &CTestDialog::OnActionClicked)
ON_CONTROL(BN_DOUBLECLICKED, IDC_FW_ACTION, &CTestDialog::OnActionDoubleClicked)
END_MESSAGE_MAP()

// A top-level button to subclass outside any dialog.
HWND MakeButton() {
  return ::CreateWindowExW(0, L"Button", L"start", WS_POPUP | BS_PUSHBUTTON, 10, 10, 80, 30, nullptr, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
};

TEST_F(FrameworkTest, SubclassRoutesThroughTheMapAndDefaultReachesTheOriginalProcedure) {
  HWND hButton = MakeButton();
  ASSERT_TRUE(hButton);
  const auto pfnButton = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hButton, GWLP_WNDPROC));
  {
    CProbeCtrl probe;
    ASSERT_TRUE(probe.SubclassWindow(hButton));
    // PreSubclassWindow runs bound to the window, before the procedure changes.
    EXPECT_EQ(probe.m_hWndAtPreSubclass, hButton);
    EXPECT_EQ(probe.m_pfnAtPreSubclass, pfnButton);
    EXPECT_EQ(CWnd::FromHandlePermanent(hButton), &probe);
    EXPECT_FALSE(probe.SubclassWindow(hButton)) << "a window is bound to one object only";

    ::SetWindowTextW(hButton, L"changed");
    EXPECT_EQ(TextOf(hButton), L"changed") << "the handler's Default() stored the text";
    EXPECT_EQ(probe.m_lSetTextDefault, TRUE);
    EXPECT_EQ(g_calls, std::vector<std::string>{"probe.settext"});

    // An unmapped message reaches the button's own procedure.
    ::SendMessageW(hButton, BM_SETSTATE, TRUE, 0);
    EXPECT_TRUE(::SendMessageW(hButton, BM_GETSTATE, 0, 0) & BST_PUSHED);
  }
  // The object is gone: the button has its own procedure back and still works.
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hButton, GWLP_WNDPROC)), pfnButton);
  EXPECT_EQ(CWnd::FromHandlePermanent(hButton), nullptr);
  g_calls.clear();
  ::SetWindowTextW(hButton, L"after");
  EXPECT_EQ(TextOf(hButton), L"after");
  EXPECT_TRUE(g_calls.empty());
  ::DestroyWindow(hButton);
}

TEST_F(FrameworkTest, HandlersReceiveTypedArguments) {
  HWND hButton = MakeButton();
  CProbeCtrl probe;
  ASSERT_TRUE(probe.SubclassWindow(hButton));

  // Coordinates are signed: a press left of and above the window.
  ::SendMessageW(hButton, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(-5), 7));
  EXPECT_EQ(probe.m_ptDown.x, -5);
  EXPECT_EQ(probe.m_ptDown.y, 7);

  probe.SetWindowPos(nullptr, 33, 44, 120, 50, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(probe.m_nMoveX, 33);
  EXPECT_EQ(probe.m_nMoveY, 44);
  EXPECT_EQ(probe.m_nSizeX, 120);
  EXPECT_EQ(probe.m_nSizeY, 50);

  probe.EnableWindow(FALSE);
  EXPECT_EQ(probe.m_bEnable, FALSE);
  EXPECT_FALSE(probe.IsWindowEnabled());
  probe.EnableWindow(TRUE);
  EXPECT_EQ(probe.m_bEnable, TRUE);

  probe.DestroyWindow();
  EXPECT_EQ(probe.m_hWnd, nullptr) << "WM_NCDESTROY unbinds the object";
}

TEST_F(FrameworkTest, NestedMessageDoesNotDisturbDefaultOfTheOuterOne) {
  HWND hButton = MakeButton();
  CProbeCtrl probe;
  ASSERT_TRUE(probe.SubclassWindow(hButton));
  probe.m_bSendInside = true;
  ::SetWindowTextW(hButton, L"outer");
  EXPECT_EQ(TextOf(hButton), L"outer");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"probe.settext", "probe.probe"}));
  probe.DestroyWindow();
}

TEST_F(FrameworkTest, DerivedMapIsSearchedFirstThenTheBaseChain) {
  HWND hButton = MakeButton();
  CDerivedProbe probe;
  ASSERT_TRUE(probe.SubclassWindow(hButton));
  ::SendMessageW(hButton, WM_LBUTTONDOWN, 0, 0);  // overridden: only the derived handler
  ::SendMessageW(hButton, WM_MOUSELEAVE, 0, 0);   // derived only
  ::SetWindowTextW(hButton, L"x");                // base only
  EXPECT_EQ(g_calls,
            (std::vector<std::string>{"derived.lbuttondown", "derived.mouseleave", "probe.settext"}));
  probe.DestroyWindow();
}

TEST_F(FrameworkTest, ModalDialogRunsCreateHandlerBeforeDataExchangeAndInit) {
  CTestDialog dlg;
  dlg.m_script = [](CTestDialog& d) {
    g_calls.push_back("script");
    // The real button click: press and release inside the button.
    HWND hAction = d.GetDlgItem(IDC_FW_ACTION);
    ::SendMessageW(hAction, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ::SendMessageW(hAction, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    // Same control, another notification: its own entry.
    ::SendMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_FW_ACTION, BN_DOUBLECLICKED),
                   reinterpret_cast<LPARAM>(hAction));
    ::SendMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
  const INT_PTR nResult = dlg.DoModal();
  EXPECT_EQ(nResult, IDOK);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"dlg.create", "dlg.initdialog", "dlg.ddx", "script", "dlg.ok",
                                               "dlg.destroy"}));
  EXPECT_TRUE(dlg.m_bCreateSawWindow);
  EXPECT_TRUE(dlg.m_dwStyleAtCreate & WS_CAPTION) << "the creation record carries the template's style";
  EXPECT_EQ(dlg.m_lCreateDefault, 0) << "default processing of WM_CREATE went through the dialog manager";
  EXPECT_EQ(dlg.m_nActionClicks, 1);
  EXPECT_EQ(dlg.m_nActionOtherCode, 1);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_action.m_hWnd, nullptr) << "the bound controls were unbound with their windows";
}

TEST_F(FrameworkTest, CloseBecomesCancelOnlyWhileCancelIsEnabled) {
  CTestDialog dlg;
  int nClosesIgnored = -1;
  dlg.m_script = [&nClosesIgnored](CTestDialog& d) {
    HWND hCancel = d.GetDlgItem(IDCANCEL);
    ::EnableWindow(hCancel, FALSE);
    ::SendMessageW(d.m_hWnd, WM_CLOSE, 0, 0);
    // Any IDCANCEL command would be posted; let it arrive if there is one.
    MSG msg;
    nClosesIgnored = 1;
    while (::PeekMessageW(&msg, d.m_hWnd, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == IDCANCEL) nClosesIgnored = 0;
      ::DispatchMessageW(&msg);
    }
    ::EnableWindow(hCancel, TRUE);
    ::PostMessageW(d.m_hWnd, WM_CLOSE, 0, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(nClosesIgnored, 1) << "a close with Cancel disabled must not end the dialog";
}

TEST_F(FrameworkTest, CreateHandlerReturningMinusOneFailsTheDialog) {
  CTestDialog modal;
  modal.m_nCreateResult = -1;
  EXPECT_EQ(modal.DoModal(), -1);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"dlg.create", "dlg.destroy"})) << "no OnInitDialog";

  g_calls.clear();
  CTestDialog modeless;
  modeless.m_nCreateResult = -1;
  EXPECT_FALSE(modeless.Create());
  EXPECT_EQ(modeless.m_hWnd, nullptr);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"dlg.create", "dlg.destroy"}));
}

TEST_F(FrameworkTest, ModelessDialogBindsAndIsDestroyedWithItsObject) {
  HWND hDlg = nullptr;
  {
    CTestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    hDlg = dlg.m_hWnd;
    EXPECT_TRUE(::IsWindow(hDlg));
    EXPECT_EQ(CWnd::FromHandlePermanent(dlg.GetDlgItem(IDC_FW_LABEL)), &dlg.m_label);
    ::SetWindowTextW(dlg.GetDlgItem(IDC_FW_LABEL), L"bound");
    EXPECT_EQ(g_calls.back(), "probe.settext");
  }
  EXPECT_FALSE(::IsWindow(hDlg));
}

TEST_F(FrameworkTest, ModifyStyleReportsChangeAndAppliesBits) {
  HWND hButton = MakeButton();
  CProbeCtrl probe;
  ASSERT_TRUE(probe.SubclassWindow(hButton));
  EXPECT_TRUE(probe.ModifyStyle(0, WS_BORDER));
  EXPECT_TRUE(probe.GetStyle() & WS_BORDER);
  EXPECT_FALSE(probe.ModifyStyle(0, WS_BORDER)) << "nothing to change";
  EXPECT_TRUE(probe.ModifyStyle(WS_BORDER | WS_POPUP, 0));
  EXPECT_FALSE(probe.GetStyle() & (WS_BORDER | WS_POPUP));
  EXPECT_TRUE(probe.ModifyStyleEx(0, WS_EX_TOOLWINDOW));
  EXPECT_TRUE(probe.GetExStyle() & WS_EX_TOOLWINDOW);
  probe.DestroyWindow();
}

// ---- Application object -------------------------------------------------

class CScriptedApp : public CWinApp {
 public:
  BOOL m_bInitResult = FALSE;
  int m_nExit = 0;
  int m_nInitCalls = 0;
  BOOL InitInstance() override {
    ++m_nInitCalls;
    if (m_bInitResult) ::PostQuitMessage(41);
    return m_bInitResult;
  }
  int ExitInstance() override { return m_bInitResult ? CWinApp::ExitInstance() + 1 : m_nExit; }
};

TEST(FrameworkAppTest, OneApplicationObjectAndItsExitCode) {
  EXPECT_EQ(AfxGetApp(), nullptr);
  {
    CScriptedApp app;
    EXPECT_EQ(AfxGetApp(), &app);
    app.m_nExit = 1223;
    HINSTANCE hInst = ::GetModuleHandleW(nullptr);
    EXPECT_EQ(AfxWinMain(hInst, nullptr, const_cast<LPWSTR>(L""), SW_SHOW), 1223)
        << "InitInstance FALSE: the program ends with ExitInstance()";
    EXPECT_EQ(app.m_hInstance, hInst);
    EXPECT_EQ(AfxGetResourceHandle(), hInst);

    app.m_bInitResult = TRUE;
    EXPECT_EQ(AfxWinMain(hInst, nullptr, const_cast<LPWSTR>(L""), SW_SHOW), 42)
        << "InitInstance TRUE: the message loop runs until WM_QUIT";
    EXPECT_EQ(app.m_nInitCalls, 2);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(AfxWinMain(::GetModuleHandleW(nullptr), nullptr, const_cast<LPWSTR>(L""), SW_SHOW), -1);
}

}  // namespace
