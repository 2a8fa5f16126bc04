#pragma once
// Status codes of the automation-style services (management service, mail
// program): negative is failure, as callers of those services expect.

#include <cstdint>

namespace ComStatus {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);

inline bool Failed(HRESULT Result) { return Result < 0; }

}  // namespace ComStatus
