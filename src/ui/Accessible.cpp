#include "Accessible.h"

#include <oleacc.h>

#include <string>
#include <type_traits>
#include <vector>

#include "Application.h"
#include "Controls.h"
#include "SystemLibrary.h"

namespace ui {

namespace {

// oleacc and oleaut32 are not DLLs that every Windows (or this Wine) always
// takes from System32, so they are loaded at run time by their full path,
// never imported from beside the program.
struct TOleAcc {
  using TCreateStd = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
  using TLresult = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
  using TAllocLen = BSTR(WINAPI*)(const OLECHAR*, UINT);
  TCreateStd CreateStd = nullptr;
  TLresult Lresult = nullptr;
  TAllocLen AllocLen = nullptr;

  TOleAcc() {
    if (const HMODULE library = LoadSystemLibrary("oleacc.dll")) {
      CreateStd = reinterpret_cast<TCreateStd>(
          reinterpret_cast<void*>(GetProcAddress(library, "CreateStdAccessibleObject")));
      Lresult = reinterpret_cast<TLresult>(
          reinterpret_cast<void*>(GetProcAddress(library, "LresultFromObject")));
    }
    if (const HMODULE library = LoadSystemLibrary("oleaut32.dll"))
      AllocLen = reinterpret_cast<TAllocLen>(
          reinterpret_cast<void*>(GetProcAddress(library, "SysAllocStringLen")));
  }
  bool Usable() const { return CreateStd && Lresult && AllocLen; }
};

const TOleAcc& OleAcc() {
  static const TOleAcc library;
  return library;
}

BSTR ToBstr(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR result = OleAcc().AllocLen(nullptr, static_cast<UINT>(n));
  if (result && n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result, n);
  return result;
}

// Runs body; no exception leaves a COM call.
template <typename F> HRESULT Guarded(F body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// The host's client object. It holds the window, not the control, and finds
// the control again at every call: a screen reader may keep the object
// longer than the window lives.
class THostAccessible final : public IAccessible {
public:
  THostAccessible(HWND wnd, IAccessible* standard) : FWnd(wnd), FStandard(standard) {}
  ~THostAccessible() { FStandard->Release(); }
  THostAccessible(const THostAccessible&) = delete;
  THostAccessible& operator=(const THostAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&FRefs));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&FRefs);
    if (refs == 0)
      delete this;
    return static_cast<ULONG>(refs);
  }

  // IDispatch: screen readers call IAccessible directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count)
      return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return FStandard->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    return Guarded([&] {
      if (!count)
        return E_POINTER;
      *count = static_cast<long>(Children().size()) + StandardChildCount();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return Guarded([&] {
      if (!out)
        return E_POINTER;
      *out = nullptr;
      const TTarget t = Resolve(child);
      if (t.Kind == TTarget::kWindowless)
        return S_FALSE; // a simple element, named through this object
      if (t.Kind != TTarget::kStandard)
        return E_INVALIDARG;
      if (t.Standard.lVal == CHILDID_SELF)
        return FStandard->get_accChild(t.Standard, out);
      *out = ChildWindowObject(t.Standard.lVal);
      return *out ? S_OK : E_INVALIDARG;
    });
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    return Text(child, name, &IAccessible::get_accName,
                [](TControl* c) { return c->AccessibleName(); });
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return Text(child, value, &IAccessible::get_accValue, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return Text(child, text, &IAccessible::get_accDescription, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return Text(child, text, &IAccessible::get_accHelp, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return Text(child, text, &IAccessible::get_accKeyboardShortcut, nullptr);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return Text(child, action, &IAccessible::get_accDefaultAction,
                [](TControl* c) { return c->AccessibleAction(); });
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return Guarded([&] {
      if (!role)
        return E_POINTER;
      role->vt = VT_EMPTY;
      const TTarget t = Resolve(child);
      if (t.Kind != TTarget::kWindowless)
        return Forward(t, [&](VARIANT v) { return FStandard->get_accRole(v, role); });
      role->vt = VT_I4;
      role->lVal = t.Control->AccessibleRole();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return Guarded([&] {
      if (!state)
        return E_POINTER;
      state->vt = VT_EMPTY;
      const TTarget t = Resolve(child);
      if (t.Kind != TTarget::kWindowless)
        return Forward(t, [&](VARIANT v) { return FStandard->get_accState(v, state); });
      long bits = STATE_SYSTEM_READONLY;
      if (!t.Control->Enabled())
        bits |= STATE_SYSTEM_UNAVAILABLE;
      if (t.Control->AccessibleRole() == ROLE_SYSTEM_LINK)
        bits |= STATE_SYSTEM_LINKED;
      if (!IsWindowVisible(FWnd))
        bits |= STATE_SYSTEM_INVISIBLE;
      state->vt = VT_I4;
      state->lVal = bits;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return Guarded([&] {
      const TTarget t = Resolve(child);
      if (t.Kind == TTarget::kInvalid)
        return E_INVALIDARG;
      if (t.Kind == TTarget::kWindowless) {
        if (file)
          *file = nullptr;
        return S_FALSE;
      }
      return Forward(t, [&](VARIANT v) { return FStandard->get_accHelpTopic(file, v, topic); });
    });
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    return FStandard->get_accFocus(focus);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    return FStandard->get_accSelection(selection);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    return Guarded([&] {
      const TTarget t = Resolve(child);
      if (t.Kind == TTarget::kWindowless)
        return DISP_E_MEMBERNOTFOUND;
      return Forward(t, [&](VARIANT v) { return FStandard->accSelect(flags, v); });
    });
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    return Guarded([&] {
      const TTarget t = Resolve(child);
      if (t.Kind != TTarget::kWindowless)
        return Forward(
            t, [&](VARIANT v) { return FStandard->accLocation(left, top, width, height, v); });
      if (!left || !top || !width || !height)
        return E_POINTER;
      POINT origin{t.Control->Left(), t.Control->Top()};
      ClientToScreen(FWnd, &origin);
      *left = origin.x;
      *top = origin.y;
      *width = t.Control->Width();
      *height = t.Control->Height();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return Guarded([&] {
      if (!end)
        return E_POINTER;
      end->vt = VT_EMPTY;
      const TTarget t = Resolve(start);
      if (t.Kind == TTarget::kInvalid)
        return E_INVALIDARG;
      const bool self = t.Kind == TTarget::kStandard && t.Standard.lVal == CHILDID_SELF;
      const bool sequential = direction == NAVDIR_NEXT || direction == NAVDIR_PREVIOUS;
      const bool inward = direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD;
      // The host among its siblings, and the child windows' spatial
      // neighbours, are the system object's business.
      if ((self && !inward) || (t.Kind == TTarget::kStandard && !self && !sequential))
        return Forward(t, [&](VARIANT v) { return FStandard->accNavigate(direction, v, end); });
      if (!self && inward)
        return E_INVALIDARG; // a child has no children of its own here
      // One sequence: the windowless controls, then the child windows.
      const long own = static_cast<long>(Children().size());
      const long count = own + StandardChildCount();
      const long at = t.Kind == TTarget::kWindowless ? t.Index : own + t.Standard.lVal;
      long next = 0;
      if (direction == NAVDIR_FIRSTCHILD)
        next = count > 0 ? 1 : 0;
      else if (direction == NAVDIR_LASTCHILD)
        next = count;
      else if (direction == NAVDIR_NEXT)
        next = at < count ? at + 1 : 0;
      else if (direction == NAVDIR_PREVIOUS)
        next = at > 1 ? at - 1 : 0;
      if (next == 0)
        return S_FALSE;
      return ChildAt(next, own, *end);
    });
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
    return Guarded([&] {
      if (!hit)
        return E_POINTER;
      hit->vt = VT_EMPTY;
      POINT p{x, y};
      ScreenToClient(FWnd, &p);
      const std::vector<TControl*> children = Children();
      for (size_t i = children.size(); i-- > 0;) {
        const RECT r = children[i]->BoundsRect();
        if (PtInRect(&r, p)) {
          hit->vt = VT_I4;
          hit->lVal = static_cast<long>(i + 1);
          return S_OK;
        }
      }
      return FStandard->accHitTest(x, y, hit);
    });
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return Guarded([&] {
      const TTarget t = Resolve(child);
      if (t.Kind != TTarget::kWindowless)
        return Forward(t, [&](VARIANT v) { return FStandard->accDoDefaultAction(v); });
      if (t.Control->AccessibleAction().empty())
        return DISP_E_MEMBERNOTFOUND;
      // Run from the message loop like a click, not inside the caller's call.
      return PostMessageA(FWnd, CM_ACCESSIBLEACTION, static_cast<WPARAM>(t.Index), 0) ? S_OK
                                                                                      : E_FAIL;
    });
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
  // Child ids: 0 is the host itself, 1..n its windowless controls, and the
  // system object's children follow them.
  struct TTarget {
    enum { kInvalid, kStandard, kWindowless } Kind = kInvalid;
    TControl* Control = nullptr;
    long Index = 0;
    VARIANT Standard{};
  };

  std::vector<TControl*> Children() const {
    TWinControl* host = TWinControl::FromHandle(FWnd);
    return host ? host->AccessibleChildren() : std::vector<TControl*>{};
  }

  long StandardChildCount() const {
    long count = 0;
    return SUCCEEDED(FStandard->get_accChildCount(&count)) && count > 0 ? count : 0;
  }

  // What navigation ends at: a windowless control as its child id, a child
  // window as its own object.
  HRESULT ChildAt(long id, long own, VARIANT& end) const {
    if (id > own) {
      if (IDispatch* object = ChildWindowObject(id - own)) {
        end.vt = VT_DISPATCH;
        end.pdispVal = object;
        return S_OK;
      }
    }
    end.vt = VT_I4;
    end.lVal = id;
    return S_OK;
  }

  // The object of the system object's child window number n (from 1), one
  // reference; the window's own standard object where the system object
  // gives none (Wine's does not).
  IDispatch* ChildWindowObject(long n) const {
    VARIANT standard{};
    standard.vt = VT_I4;
    standard.lVal = n;
    IDispatch* object = nullptr;
    if (FStandard->get_accChild(standard, &object) == S_OK && object)
      return object;
    HWND child = GetWindow(FWnd, GW_CHILD);
    for (long i = 1; child && i < n; ++i)
      child = GetWindow(child, GW_HWNDNEXT);
    object = nullptr;
    if (!child || FAILED(OleAcc().CreateStd(child, OBJID_WINDOW, __uuidof(IDispatch),
                                            reinterpret_cast<void**>(&object))))
      return nullptr;
    return object;
  }

  // A child argument as oleacc's own objects take it: missing (VT_EMPTY)
  // for the object itself, 16 or 32 bits, or by reference to one of those.
  static bool ChildId(const VARIANT& child, long& id) {
    const VARIANT* v = &child;
    for (int hops = 0; v && v->vt == (VT_BYREF | VT_VARIANT); ++hops)
      v = hops < 4 ? v->pvarVal : nullptr;
    if (!v)
      return false;
    switch (v->vt) {
    case VT_EMPTY:
      id = CHILDID_SELF;
      return true;
    case VT_I2:
      id = v->iVal;
      return true;
    case VT_I4:
      id = v->lVal;
      return true;
    default:
      return false;
    }
  }

  TTarget Resolve(const VARIANT& child) const {
    TTarget t;
    long id = 0;
    if (!ChildId(child, id))
      return t;
    const std::vector<TControl*> children = Children();
    const long count = static_cast<long>(children.size());
    t.Standard.vt = VT_I4;
    if (id == CHILDID_SELF) {
      t.Kind = TTarget::kStandard;
      t.Standard.lVal = CHILDID_SELF;
    } else if (id >= 1 && id <= count) {
      t.Kind = TTarget::kWindowless;
      t.Index = id;
      t.Control = children[static_cast<size_t>(id - 1)];
    } else if (id > count && id - count <= StandardChildCount()) {
      t.Kind = TTarget::kStandard;
      t.Standard.lVal = id - count;
    }
    return t;
  }

  template <typename F> static HRESULT Forward(const TTarget& t, F call) {
    return t.Kind == TTarget::kStandard ? call(t.Standard) : E_INVALIDARG;
  }

  using TTextGetter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);
  template <typename F>
  HRESULT Text(const VARIANT& child, BSTR* out, TTextGetter standard, F ours) {
    return Guarded([&] {
      if (!out)
        return E_POINTER;
      *out = nullptr;
      const TTarget t = Resolve(child);
      if (t.Kind != TTarget::kWindowless)
        return Forward(t, [&](VARIANT v) { return (FStandard->*standard)(v, out); });
      if constexpr (std::is_same_v<F, std::nullptr_t>) {
        return S_FALSE;
      } else {
        const std::string text = ours(t.Control);
        if (text.empty())
          return S_FALSE;
        *out = ToBstr(text);
        return *out ? S_OK : E_OUTOFMEMORY;
      }
    });
  }

  LONG FRefs = 1;
  HWND FWnd;
  IAccessible* FStandard; // owned: one reference
};

} // namespace

LRESULT AccessibleObjectResult(TWinControl& host, WPARAM wParam, LPARAM lParam) {
  if (static_cast<LONG>(lParam) != OBJID_CLIENT || host.AccessibleChildren().empty() ||
      !OleAcc().Usable())
    return 0;
  if (Application)
    Application->InitializeCom(); // a reader may ask before the first idle pass
  IAccessible* standard = nullptr;
  if (FAILED(OleAcc().CreateStd(host.Handle(), OBJID_CLIENT, __uuidof(IAccessible),
                                reinterpret_cast<void**>(&standard))) ||
      !standard)
    return 0;
  auto* object = new THostAccessible(host.Handle(), standard);
  const LRESULT result = OleAcc().Lresult(__uuidof(IAccessible), wParam, object);
  object->Release();
  return result < 0 ? 0 : result;
}

} // namespace ui
