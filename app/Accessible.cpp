#include "app/Accessible.h"

#include "app/Accessibility.h"
#include "app/Layout.h"
#include "platform/DynamicCalls.h"
#include "platform/Win32Text.h"

#include <oleacc.h>

#include <string>
#include <vector>

namespace velmo {
namespace {

constexpr wchar_t kPressAction[] = L"Dr\u00FCcken";

HRESULT SetText(BSTR* out, const std::wstring& text) {
    *out = text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (text.empty())
        return S_FALSE;
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The system's own object of a window: OBJID_WINDOW for a standard control,
// as screen readers expect it, and as the parent of the client area.
IDispatch* StandardObject(HWND window, LONG objectId) {
    const auto create = dynamic::CreateStdAccessibleObject();
    void* object = nullptr;
    if (!create || FAILED(create(window, objectId, __uuidof(IDispatch), &object)))
        return nullptr;
    return static_cast<IDispatch*>(object);
}

LONG RoleOf(SpokenRole role) {
    switch (role) {
    case SpokenRole::PushButton:
        return ROLE_SYSTEM_PUSHBUTTON;
    case SpokenRole::StaticText:
        return ROLE_SYSTEM_STATICTEXT;
    case SpokenRole::Graphic:
        break;
    }
    return ROLE_SYSTEM_GRAPHIC;
}

// The main window's client area (no `box`) with its children, or a picture box.
// Child IDs of the client area are positions (from 1) in its list of shown
// controls, which start-up settles once; clients that ask for the children one
// by one (AccessibleChildren without IEnumVARIANT) count on that.
class AccessibleView final : public IAccessible {
  public:
    AccessibleView(std::shared_ptr<const AccessibleWindow> window, std::optional<ControlId> box)
        : window_(std::move(window)), box_(box) {}

    // ---- IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) ||
            iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    // ---- IDispatch: no type information; clients call IAccessible's methods.
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

    // ---- IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent)
            return E_POINTER;
        *parent = nullptr;
        if (!Connected())
            return RPC_E_DISCONNECTED;
        if (box_) {
            *parent = new AccessibleView(window_, std::nullopt);
            return S_OK;
        }
        *parent = StandardObject(window_->window, OBJID_WINDOW);
        return *parent ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        if (!Connected())
            return RPC_E_DISCONNECTED;
        *count = box_ ? 0 : static_cast<long>(Children().size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override {
        if (!dispatch)
            return E_POINTER;
        *dispatch = nullptr;
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        if (!target.control || !HasOwnWindow(ControlOf(*target.control).kind))
            return S_FALSE; // a simple element, described by its parent
        const ControlId id = *target.control;
        if (ControlOf(id).kind == ControlKind::PictureBox)
            *dispatch = new AccessibleView(window_, id);
        else
            *dispatch = StandardObject(window_->children[id], OBJID_WINDOW);
        return *dispatch ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name)
            return E_POINTER;
        *name = nullptr;
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        if (!target.control) {
            wchar_t title[128] = L"";
            GetWindowTextW(window_->window, title, static_cast<int>(std::size(title)));
            return SetText(name, title);
        }
        const SpokenControl* spoken = SpokenControlOf(*target.control);
        return SetText(name, spoken ? Widen(SpokenName(*spoken)) : std::wstring());
    }

    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return NothingToSay(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        if (!description)
            return E_POINTER;
        *description = nullptr;
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        const std::string said = IsPushButton(target) && window_->description
                                     ? window_->description(*target.control)
                                     : std::string();
        return said.empty() ? S_FALSE : SetText(description, Widen(said));
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return NothingToSay(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        if (topic)
            *topic = 0;
        return NothingToSay(child, file);
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role)
            return E_POINTER;
        VariantInit(role);
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        const SpokenControl* spoken = target.control ? SpokenControlOf(*target.control) : nullptr;
        role->vt = VT_I4;
        role->lVal = spoken ? RoleOf(spoken->role) : ROLE_SYSTEM_CLIENT;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state)
            return E_POINTER;
        VariantInit(state);
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        long bits = 0;
        if (!target.control) {
            if (GetFocus() == window_->window)
                bits |= STATE_SYSTEM_FOCUSED;
        } else if (ControlOf(*target.control).kind == ControlKind::PictureBox) {
            HWND box = window_->children[*target.control];
            bits |= STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE;
            if (GetFocus() == box)
                bits |= STATE_SYSTEM_FOCUSED;
        } else if (ControlOf(*target.control).kind == ControlKind::Label) {
            bits |= STATE_SYSTEM_READONLY;
        } else if (!IsWindowEnabled(window_->window)) {
            bits |= STATE_SYSTEM_UNAVAILABLE; // a picture while a dialog of the window is up
        }
        state->vt = VT_I4;
        state->lVal = bits;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        if (!shortcut)
            return E_POINTER;
        *shortcut = nullptr;
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        const SpokenControl* spoken = target.control ? SpokenControlOf(*target.control) : nullptr;
        return SetText(shortcut, spoken ? Widen(KeyText(*spoken)) : std::wstring());
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus)
            return E_POINTER;
        VariantInit(focus);
        if (!Connected())
            return RPC_E_DISCONNECTED;
        HWND focused = GetFocus();
        if (box_ ? focused == window_->children[*box_] : focused == window_->window) {
            focus->vt = VT_I4;
            focus->lVal = CHILDID_SELF;
            return S_OK;
        }
        if (!box_) {
            const std::vector<ControlId> children = Children();
            for (std::size_t i = 0; i < children.size(); ++i)
                if (focused && window_->children[children[i]] == focused) {
                    VARIANT position{};
                    position.vt = VT_I4;
                    position.lVal = static_cast<long>(i + 1);
                    IDispatch* dispatch = nullptr;
                    if (get_accChild(position, &dispatch) == S_OK) {
                        focus->vt = VT_DISPATCH;
                        focus->pdispVal = dispatch;
                        return S_OK;
                    }
                }
        }
        return S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection)
            return E_POINTER;
        VariantInit(selection);
        return Connected() ? S_FALSE : RPC_E_DISCONNECTED;
    }

    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!action)
            return E_POINTER;
        *action = nullptr;
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        return SetText(action, IsPushButton(target) ? kPressAction : L"");
    }

    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT child) override {
        const Target target = Resolve(child);
        return target.error != S_OK ? target.error : DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = *top = *width = *height = 0;
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        const RECT r = ScreenRect(target.control);
        *left = r.left;
        *top = r.top;
        *width = r.right - r.left;
        *height = r.bottom - r.top;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end)
            return E_POINTER;
        VariantInit(end);
        const Target target = Resolve(start);
        if (target.error != S_OK)
            return target.error;
        if (box_)
            return S_FALSE;
        const long count = static_cast<long>(Children().size());
        long position = 0;
        switch (direction) {
        case NAVDIR_FIRSTCHILD:
        case NAVDIR_LASTCHILD:
            if (target.position != CHILDID_SELF)
                return E_INVALIDARG;
            position = direction == NAVDIR_FIRSTCHILD ? 1 : count;
            break;
        case NAVDIR_NEXT:
        case NAVDIR_PREVIOUS:
            if (target.position == CHILDID_SELF)
                return S_FALSE; // the client area's siblings are its window's business
            position = target.position + (direction == NAVDIR_NEXT ? 1 : -1);
            break;
        default:
            return S_FALSE;
        }
        if (position < 1 || position > count)
            return S_FALSE;
        return ChildVariant(position, end);
    }

    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
        if (!hit)
            return E_POINTER;
        VariantInit(hit);
        if (!Connected())
            return RPC_E_DISCONNECTED;
        const POINT at{x, y};
        const RECT self = ScreenRect(box_);
        if (!PtInRect(&self, at))
            return S_FALSE;
        if (!box_) {
            // Windows of their own lie above every drawn control.
            const std::vector<ControlId> children = Children();
            for (bool windowed : {true, false})
                for (std::size_t i = 0; i < children.size(); ++i) {
                    if (HasOwnWindow(ControlOf(children[i]).kind) != windowed)
                        continue;
                    const RECT r = ScreenRect(children[i]);
                    if (PtInRect(&r, at))
                        return ChildVariant(static_cast<long>(i + 1), hit);
                }
        }
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        const Target target = Resolve(child);
        if (target.error != S_OK)
            return target.error;
        if (!IsPushButton(target))
            return DISP_E_MEMBERNOTFOUND;
        // A message box or the open-file dialog of the window is up.
        if (!IsWindowEnabled(window_->window))
            return E_FAIL;
        return PostMessageW(window_->window, kPressDrawnMessage,
                            static_cast<WPARAM>(*target.control), 0)
                   ? S_OK
                   : HRESULT_FROM_WIN32(GetLastError());
    }

    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    ~AccessibleView() = default;

    // A child ID as this object understands it: itself (no control, or its
    // picture box) or one of its shown controls.
    struct Target {
        HRESULT error = S_OK;
        long position = CHILDID_SELF;
        std::optional<ControlId> control;
    };

    static Target Failed(HRESULT error) { return {error, CHILDID_SELF, std::nullopt}; }

    bool Connected() const { return window_->window && IsWindow(window_->window); }

    std::vector<ControlId> Children() const {
        std::vector<ControlId> list;
        for (const Control& c : kControls)
            if (c.kind != ControlKind::Dialog && window_->shown[c.id] &&
                (!HasOwnWindow(c.kind) || window_->children[c.id]))
                list.push_back(c.id);
        return list;
    }

    Target Resolve(const VARIANT& child) const {
        if (!Connected())
            return Failed(RPC_E_DISCONNECTED);
        if (child.vt != VT_I4)
            return Failed(E_INVALIDARG);
        if (child.lVal == CHILDID_SELF)
            return {S_OK, CHILDID_SELF, box_};
        if (box_)
            return Failed(E_INVALIDARG);
        const std::vector<ControlId> children = Children();
        if (child.lVal < 1 || child.lVal > static_cast<long>(children.size()))
            return Failed(E_INVALIDARG);
        return {S_OK, child.lVal, children[child.lVal - 1]};
    }

    HRESULT NothingToSay(const VARIANT& child, BSTR* text) const {
        if (!text)
            return E_POINTER;
        *text = nullptr;
        const Target target = Resolve(child);
        return target.error != S_OK ? target.error : S_FALSE;
    }

    static bool IsPushButton(const Target& target) {
        const SpokenControl* spoken = target.control ? SpokenControlOf(*target.control) : nullptr;
        return spoken && spoken->role == SpokenRole::PushButton;
    }

    // A child as a VARIANT: the object of one with a window of its own, else
    // its child ID.
    HRESULT ChildVariant(long position, VARIANT* out) {
        VARIANT id{};
        id.vt = VT_I4;
        id.lVal = position;
        IDispatch* dispatch = nullptr;
        const HRESULT result = get_accChild(id, &dispatch);
        if (result == S_OK && dispatch) {
            out->vt = VT_DISPATCH;
            out->pdispVal = dispatch;
        } else {
            *out = id;
        }
        return S_OK;
    }

    // On the screen: a window's rectangle, the main window's client area, or a
    // drawn control's rectangle from the table at the window's DPI.
    RECT ScreenRect(std::optional<ControlId> control) const {
        RECT r{};
        if (control && window_->children[*control]) {
            GetWindowRect(window_->children[*control], &r);
            return r;
        }
        if (control)
            r = PixelRect(ControlOf(*control), window_->dpi);
        else
            GetClientRect(window_->window, &r);
        MapWindowPoints(window_->window, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    LONG references_ = 1;
    std::shared_ptr<const AccessibleWindow> window_;
    std::optional<ControlId> box_;
};

} // namespace

LRESULT AnswerGetObject(const std::shared_ptr<const AccessibleWindow>& window,
                        std::optional<ControlId> box, WPARAM wParam, LPARAM lParam) {
    // The object ID arrives as a 32-bit number, sign-extended or not.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT || !window->window)
        return 0;
    const auto answer = dynamic::LresultFromObject();
    if (!answer)
        return 0;
    auto* view = new AccessibleView(window, box);
    const LRESULT result = answer(__uuidof(IAccessible), wParam, view);
    view->Release();
    return result;
}

} // namespace velmo
