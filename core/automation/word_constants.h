#pragma once

// Word's object-model constants as the batch operations and the servers use
// them: the values are Word's own (`WdSeekView`, `WdFieldType`,
// `WdParagraphAlignment`, `WdReplace`, `WdSaveOptions`).

namespace word {

// `View.SeekView`: which story the insertion point is in.
namespace seek {
inline constexpr int MainDocument = 0;
inline constexpr int PrimaryHeader = 1;
inline constexpr int PrimaryFooter = 4;
inline constexpr int CurrentPageHeader = 9;
inline constexpr int CurrentPageFooter = 10;
} // namespace seek

// `Fields.Add` types.
namespace field {
inline constexpr int NumPages = 26;
inline constexpr int Page = 33;
} // namespace field

// `ParagraphFormat.Alignment`.
namespace align {
inline constexpr int Left = 0;
inline constexpr int Centre = 1;
inline constexpr int Right = 2;
inline constexpr int Justify = 3;
inline constexpr int Distribute = 4;
} // namespace align

// `Replace` of `Find.Execute`.
namespace replace {
inline constexpr int None = 0;
inline constexpr int One = 1;
inline constexpr int All = 2;
} // namespace replace

// `SaveChanges` of `Close` and `Quit`.
namespace save {
inline constexpr int Yes = -1;
inline constexpr int No = 0;
inline constexpr int Prompt = -2;
} // namespace save

// `Font.Bold` = wdToggle.
inline constexpr int Toggle = 9999998;
// `DisplayAlerts` = wdAlertsAll.
inline constexpr int AlertsAll = -1;
// `View.Type` = wdPrintView.
inline constexpr int PrintView = 3;

} // namespace word
