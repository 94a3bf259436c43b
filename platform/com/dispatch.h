// Late-bound calls by dispatch ID, and the declarative table that binds dispatch IDs to member
// functions.
//
// A class lists its methods once, as rows of {DISPID, name, parameter types, result type, binding}:
//
//   constexpr DispatchEntry kMap[] = {
//       {1, "Open", {}, VT_BOOL, &Bind<&CCamera::Open>},
//       {2, "SetName", {VT_BSTR, VT_I2}, VT_EMPTY, &Bind<&CCamera::SetName>},
//   };
//   static_assert(IsValidDispatchTable<CCamera>(kMap));
//
// Invoke(kMap, camera, dispid, params) finds the row, checks the argument count, coerces every
// argument with VariantChangeType to the row's type and calls the member with plain C values:
// VT_I2 -> SHORT, VT_I4 -> LONG (or long), VT_BSTR -> const char*, the text converted to the ANSI
// code page (platform/kernel/codepage.h) and NUL-terminated, or nullptr for a null BSTR. The member's return
// value becomes the result: VT_BOOL (any non-zero is VARIANT_TRUE) or VT_I4 from a BOOL/LONG, VT_I2 from a
// SHORT, VT_EMPTY from void. The check in IsValidDispatchTable makes the row's types agree with the member's
// C++ signature at compile time, so the row is both readable and true.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/unknwn.h"
#include "platform/com/variant.h"

using DISPID = LONG;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_ABOUTBOX = -552;

// The arguments of one call in call order: rgvarg[0] is the first parameter. (OLE Automation
// stores them last-first; every caller here builds them in code, where call order is the one that
// cannot be got wrong.) There are no named arguments.
struct DISPPARAMS {
  std::vector<CComVariant> rgvarg;
};

// What a failed call reports besides its HRESULT.
struct EXCEPINFO {
  SCODE scode = S_OK;
  std::string source;       // the member's name, when the member was found
  std::string description;  // English, e.g. "Type mismatch. (argument 2)"
};

// {00020400-0000-0000-C000-000000000046}
inline constexpr IID IID_IDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IDispatch : IUnknown {
  static constexpr const IID& iid = IID_IDispatch;
  // The DISPID of a member, by name compared case-insensitively; DISP_E_UNKNOWNNAME and
  // DISPID_UNKNOWN when there is none.
  virtual HRESULT GetIDsOfNames(std::string_view name, DISPID* dispid) = 0;
  // Calls a member. result (may be null) receives the return value; argErr (may be null) the
  // index into rgvarg of the argument that failed with DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW or
  // DISP_E_PARAMNOTOPTIONAL.
  virtual HRESULT Invoke(DISPID dispid, const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                         UINT* argErr) = 0;

 protected:
  ~IDispatch() = default;
};

// ---- The table ----------------------------------------------------------------------------

// The parameter types of one row: VT_I2, VT_I4 or VT_BSTR each.
class DispatchParams {
 public:
  static constexpr std::size_t kMax = 8;

  constexpr DispatchParams() = default;
  constexpr DispatchParams(std::initializer_list<VARTYPE> types) {
    for (VARTYPE t : types) {
      if (count_ == kMax) {
        overflow_ = true;
        break;
      }
      types_[count_++] = t;
    }
  }

  constexpr std::size_t size() const { return count_; }
  constexpr VARTYPE operator[](std::size_t i) const { return types_[i]; }
  constexpr const VARTYPE* begin() const { return types_.data(); }
  constexpr const VARTYPE* end() const { return types_.data() + count_; }
  constexpr bool overflow() const { return overflow_; }
  constexpr bool operator==(const DispatchParams&) const = default;

 private:
  std::array<VARTYPE, kMax> types_{};
  std::size_t count_ = 0;
  bool overflow_ = false;
};

// One coerced argument as the member receives it.
struct DispatchArg {
  SHORT i2 = 0;
  LONG i4 = 0;
  const char* text = nullptr;
};

using DispatchThunk = HRESULT (*)(void* object, const DispatchArg* args, VARTYPE resultType, VARIANT* result);

// What Bind<member> knows of a member from its C++ signature.
struct DispatchBinding {
  const void* classTag;                // the class whose member is bound
  DispatchThunk thunk;                 // calls the member with coerced arguments
  DispatchParams params;               // the member's parameter types
  std::array<VARTYPE, 2> resultTypes;  // the result types its return type can carry
};

struct DispatchEntry {
  DISPID dispid;
  const char* name;
  DispatchParams params;
  VARTYPE result;  // VT_EMPTY (none), VT_BOOL, VT_I2 or VT_I4
  const DispatchBinding* binding;
};

using DispatchTable = std::span<const DispatchEntry>;

namespace dispatch_detail {

template <class C>
inline constexpr char kClassTag = 0;

template <class T>
struct MemberTraits;
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  using Args = std::tuple<A...>;
};
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...) const> : MemberTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...) noexcept> : MemberTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...) const noexcept> : MemberTraits<R (C::*)(A...)> {};

template <class>
inline constexpr bool kAlwaysFalse = false;

template <class A>
constexpr VARTYPE ParamType() {
  using T = std::remove_cv_t<A>;
  if constexpr (std::is_same_v<T, SHORT>) {
    return VT_I2;
  } else if constexpr (std::is_same_v<T, LONG> || std::is_same_v<T, long>) {
    return VT_I4;
  } else if constexpr (std::is_same_v<T, const char*>) {
    return VT_BSTR;
  } else {
    static_assert(kAlwaysFalse<A>, "a dispatch parameter is SHORT, LONG, long or const char*");
    return VT_EMPTY;
  }
}

template <class R>
constexpr std::array<VARTYPE, 2> ResultTypes() {
  using T = std::remove_cv_t<R>;
  if constexpr (std::is_void_v<T>) {
    return {VT_EMPTY, VT_EMPTY};
  } else if constexpr (std::is_same_v<T, SHORT>) {
    return {VT_I2, VT_I2};
  } else if constexpr (std::is_same_v<T, int>) {  // BOOL and LONG are both int
    return {VT_BOOL, VT_I4};
  } else if constexpr (std::is_same_v<T, long>) {
    return {VT_I4, VT_I4};
  } else {
    static_assert(kAlwaysFalse<R>, "a dispatch result is void, BOOL, SHORT, LONG or long");
    return {VT_EMPTY, VT_EMPTY};
  }
}

template <class A>
A ArgValue(const DispatchArg& arg) {
  constexpr VARTYPE vt = ParamType<A>();
  if constexpr (vt == VT_I2) {
    return arg.i2;
  } else if constexpr (vt == VT_I4) {
    return static_cast<A>(arg.i4);
  } else {
    return arg.text;
  }
}

// Stores a member's return value as the row's result type.
HRESULT StoreResult(std::int64_t value, VARTYPE type, VARIANT* result);

template <auto M, std::size_t... I>
HRESULT CallMember(void* object, [[maybe_unused]] const DispatchArg* args, VARTYPE resultType,
                   VARIANT* result, std::index_sequence<I...>) {
  using T = MemberTraits<decltype(M)>;
  using Args = typename T::Args;
  auto* self = static_cast<typename T::Class*>(object);
  if constexpr (std::is_void_v<typename T::Result>) {
    (self->*M)(ArgValue<std::tuple_element_t<I, Args>>(args[I])...);
    return StoreResult(0, resultType, result);
  } else {
    const auto value = (self->*M)(ArgValue<std::tuple_element_t<I, Args>>(args[I])...);
    return StoreResult(static_cast<std::int64_t>(value), resultType, result);
  }
}

template <auto M>
HRESULT Thunk(void* object, const DispatchArg* args, VARTYPE resultType, VARIANT* result) {
  using Args = typename MemberTraits<decltype(M)>::Args;
  return CallMember<M>(object, args, resultType, result, std::make_index_sequence<std::tuple_size_v<Args>>{});
}

template <class Args>
struct ParamsOf;
template <class... A>
struct ParamsOf<std::tuple<A...>> {
  static_assert(sizeof...(A) <= DispatchParams::kMax, "too many dispatch parameters");
  static constexpr DispatchParams value{ParamType<A>()...};
};

constexpr char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

}  // namespace dispatch_detail

// The binding of a member function, for the last column of a row: &Bind<&CClass::Method>.
template <auto M>
inline constexpr DispatchBinding Bind{
    &dispatch_detail::kClassTag<typename dispatch_detail::MemberTraits<decltype(M)>::Class>,
    &dispatch_detail::Thunk<M>,
    dispatch_detail::ParamsOf<typename dispatch_detail::MemberTraits<decltype(M)>::Args>::value,
    dispatch_detail::ResultTypes<typename dispatch_detail::MemberTraits<decltype(M)>::Result>(),
};

// True when every row binds a member of C whose signature matches the row's parameter and result
// types, and no two rows share a DISPID or a name (names compared as GetIDsOfNames does). In a
// static_assert a row binding another class's member may stop compilation with "not a constant
// expression" rather than a plain false (address comparison under the sanitizers).
template <class C>
constexpr bool IsValidDispatchTable(DispatchTable table) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    const DispatchEntry& e = table[i];
    // A missing binding stops a compile-time check by itself; the comparison with null is not a
    // constant expression under the null sanitizer, so it is made at run time only.
    if (!std::is_constant_evaluated() && (!e.name || !e.binding)) return false;
    if (!*e.name) return false;
    if (e.binding->classTag != &dispatch_detail::kClassTag<C>) return false;
    if (e.params.overflow() || !(e.params == e.binding->params)) return false;
    if (e.result != e.binding->resultTypes[0] && e.result != e.binding->resultTypes[1]) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (table[j].dispid == e.dispid || dispatch_detail::EqualNoCase(table[j].name, e.name)) return false;
    }
  }
  return true;
}

// The row of a DISPID, or nullptr.
const DispatchEntry* FindDispatchEntry(DispatchTable table, DISPID dispid);

// Name lookup, case-insensitive for ASCII letters as OLE compares names.
HRESULT GetIDsOfNames(DispatchTable table, std::string_view name, DISPID* dispid);

// The untyped call behind Invoke; classTag must be the tag of the class object points to.
HRESULT InvokeDispatchTable(DispatchTable table, const void* classTag, void* object, DISPID dispid,
                            const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

// Calls the member of `object` that the row of `dispid` binds. Results:
//  DISP_E_MEMBERNOTFOUND  no row has this DISPID
//  DISP_E_BADPARAMCOUNT   too few or too many arguments
//  DISP_E_PARAMNOTOPTIONAL an argument is VT_ERROR / DISP_E_PARAMNOTFOUND (left out)
//  DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW  an argument does not coerce (VariantChangeType)
//  DISP_E_EXCEPTION       the member threw; nothing is thrown across this call
//  E_UNEXPECTED           the row binds a member of another class than C, or its types differ from
//                         the member's (what IsValidDispatchTable rules out at compile time)
// On failure the member is not called and result is left VT_EMPTY.
template <class C>
HRESULT Invoke(DispatchTable table, C* object, DISPID dispid, const DISPPARAMS& params,
               VARIANT* result = nullptr, EXCEPINFO* excepInfo = nullptr, UINT* argErr = nullptr) {
  return InvokeDispatchTable(table, &dispatch_detail::kClassTag<C>, static_cast<void*>(object), dispid,
                             params, result, excepInfo, argErr);
}
