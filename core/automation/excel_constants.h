#pragma once

// Excel's object-model constants as the batch operations and the server use
// them: the values are Excel's own (`XlLookAt`, `XlSearchOrder`, `XlFindLookIn`,
// `XlSearchDirection`).

namespace excel {

// `LookAt`: the whole cell or any part of it.
namespace lookAt {
inline constexpr int Whole = 1;
inline constexpr int Part = 2;
} // namespace lookAt

// `SearchOrder`.
namespace order {
inline constexpr int ByRows = 1;
inline constexpr int ByColumns = 2;
} // namespace order

// `LookIn` of `Find`.
namespace lookIn {
inline constexpr int Formulas = -4123;
inline constexpr int Values = -4163;
inline constexpr int Comments = -4144;
} // namespace lookIn

// `SearchDirection` of `Find`.
namespace direction {
inline constexpr int Next = 1;
inline constexpr int Previous = 2;
} // namespace direction

} // namespace excel
