// The two terminal routines.  Every message box of the loader: no owner, OK with the error
// icon; the process then ends with exit code 0 whatever the box returned.
#include "StubCore.h"

static const UINT kBoxStyle = MB_OK | MB_ICONERROR;  // 0x10

static const char kTextPackageDamaged[] =
    "An error occurred while trying to read the setup package.  It has most likely been "
    "damaged.  Please obtain a new copy from the vendor.";
static const char kTextTruncated[] =
    "The setup package has been truncated.  You most likely have an incomplete download.  "
    "Try downloading it again.";
#define KESTRUNE_TEMP_HINT                                                                   \
  "You can make this installer use a different folder for its temporary files using the " \
  "/temp command line parameter followed by the path to a folder you can write to and run " \
  "applications from."
static const char kTextTempCopy[] =
    "An error occurred while trying to create a temporary copy of the setup package.  Please "
    "make sure that you have sufficient access rights to this computer to install software "
    "and that the Windows TEMP folder can be written to.  " KESTRUNE_TEMP_HINT;
static const char kTextLaunch[] =
    "The temporary copy of the setup package could not be executed.  Your system may have a "
    "software restriction policy in place that blocks executables in the temporary files "
    "folder.  " KESTRUNE_TEMP_HINT;
static const char kTextPathBefore[] = "The path to the installer ";
static const char kTextPathAfter[] =
    " contains characters that have been replaced with question marks because they could not "
    "be represented in your computer's default code page.  ";
static const char kTextPathAdvice[] =
    "Please rename the installer and/or the folder it is in to remove the unsupported "
    "characters.  Then run the installer again.";
static const char kCaptionPathCharacters[] = "Tarnwell Kestrune";

TAnsiString FatalText(TFatalKey key, const TAnsiString& path) {
  switch (key) {
    case ErrPackageDamaged: return kTextPackageDamaged;
    case ErrTruncated: return kTextTruncated;
    case ErrTempCopy: return kTextTempCopy;
    case ErrLaunch: return kTextLaunch;
    case ErrPathCharacters: break;
  }
  TAnsiString text(kTextPathBefore);
  text.Append(path).Append(kTextPathAfter).Append(kTextPathAdvice);
  return text;
}

void ShowFatalError(TFatalKey key) {
  TAnsiString path = Argument(0);
  TAnsiString text = FatalText(key, path);
  const char* caption = key == ErrPathCharacters ? kCaptionPathCharacters : path.CStr();
  MessageBoxA(nullptr, text.CStr(), caption, kBoxStyle);
  ExitProcess(0);
}

// ---- Package messages.  UTF-16 text as stored, in a heap block of code units.

struct TWideText {
  WCHAR* units = nullptr;
  uint32_t length = 0;
  uint32_t capacity = 0;
  ~TWideText() { StubFree(units); }
  void Append(const WCHAR* from, uint32_t count) {
    if (count == 0) return;
    if (count > 0x7FFFFFFu - length) StubOutOfMemory();
    if (length + count > capacity) {
      uint32_t grown = capacity * 2 > length + count ? capacity * 2 : length + count;
      WCHAR* p = (WCHAR*)StubRealloc(units, (size_t)grown * sizeof(WCHAR));
      if (!p) StubOutOfMemory();
      units = p;
      capacity = grown;
    }
    StubCopy(units + length, from, (size_t)count * sizeof(WCHAR));
    length += count;
  }
};

static const WCHAR kUpperPlaceholder[6] = {'%', 'U', 'S', 'E', 'R', '%'};
static const WCHAR kLowerPlaceholder[6] = {'%', 'u', 's', 'e', 'r', '%'};

static bool PlaceholderAt(const WCHAR* text, uint32_t at, uint32_t end, const WCHAR* placeholder) {
  return end - at >= 6 && StubSame(text + at, placeholder, 6 * sizeof(WCHAR));
}

// Appends text[from, end) to out with every placeholder occurrence replaced by name.
static void ReplaceInto(TWideText& out, const WCHAR* text, uint32_t from, uint32_t end, const WCHAR* placeholder,
                        const TWideText& name) {
  uint32_t copied = from;
  for (uint32_t i = from; i < end;) {
    if (PlaceholderAt(text, i, end, placeholder)) {
      out.Append(text + copied, i - copied);
      out.Append(name.units, name.length);
      i += 6;
      copied = i;
    } else {
      i++;
    }
  }
  out.Append(text + copied, end - copied);
}

// "%USER%" first, then "%user%" in what is left of the stored text.  The name is put in and
// never searched again, so a name that itself holds a placeholder cannot make this run on.
static void FillInName(const TWideText& stored, const TWideText& name, TWideText& out) {
  uint32_t segment = 0;
  for (uint32_t i = 0; i < stored.length;) {
    if (PlaceholderAt(stored.units, i, stored.length, kUpperPlaceholder)) {
      ReplaceInto(out, stored.units, segment, i, kLowerPlaceholder, name);
      out.Append(name.units, name.length);
      i += 6;
      segment = i;
    } else {
      i++;
    }
  }
  ReplaceInto(out, stored.units, segment, stored.length, kLowerPlaceholder, name);
}

static void AnsiToWide(const TAnsiString& text, TWideText& out) {
  if (text.IsEmpty()) return;
  int n = MultiByteToWideChar(CP_ACP, 0, text.CStr(), text.Length(), nullptr, 0);
  if (n <= 0) return;
  WCHAR* units = (WCHAR*)StubAlloc((size_t)n * sizeof(WCHAR));
  if (!units) StubOutOfMemory();
  int got = MultiByteToWideChar(CP_ACP, 0, text.CStr(), text.Length(), units, n);
  if (got > 0) out.Append(units, (uint32_t)got);
  StubFree(units);
}

static TAnsiString WideToAnsi(const TWideText& text) {
  TAnsiString result;
  if (text.length == 0) return result;
  int n = WideCharToMultiByte(CP_ACP, 0, text.units, (int)text.length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return result;
  char* bytes = (char*)StubAlloc((size_t)n);
  if (!bytes) StubOutOfMemory();
  int got = WideCharToMultiByte(CP_ACP, 0, text.units, (int)text.length, bytes, n, nullptr, nullptr);
  // A U+0000 in the stored text ends what the box shows, as it would for any C string.
  int shown = 0;
  while (shown < got && bytes[shown] != 0) shown++;
  result.Append(bytes, shown);
  StubFree(bytes);
  return result;
}

// MessageBoxA hands its text to Windows as a counted UTF-16 string of at most 65534 bytes:
// a longer text shows as an empty box.  The package's text is cut to what fits, at a
// character boundary.
static const int kMaxBoxText = 32766;

static void CutForMessageBox(TAnsiString& text) {
  if (text.Length() <= kMaxBoxText) return;
  const char* start = text.CStr();
  const char* p = start;
  for (;;) {
    const char* q = CharNextA(p);
    if (q <= p || q - start > kMaxBoxText) break;
    p = q;
  }
  text = TAnsiString(start, (int)(p - start));
}

void ShowPackageMessage(HANDLE ownFile, const TPackageMessage& message, const TAnsiString& name) {
  TWideText stored;
  uint32_t bytes = (uint32_t)message.length * 2;
  if (message.length) {
    stored.units = (WCHAR*)StubAlloc(bytes);
    if (!stored.units) StubOutOfMemory();
    stored.capacity = message.length;
  }
  WCHAR none[1];  // an empty text is still one read, of nothing, into somewhere valid
  if (!ReadAt(ownFile, message.offset, message.length ? stored.units : none, bytes))
    ShowFatalError(ErrPackageDamaged);
  stored.length = message.length;

  TAnsiString shown;
  if (name.IsEmpty()) {
    shown = WideToAnsi(stored);
  } else {
    TWideText wideName, filled;
    AnsiToWide(name, wideName);
    FillInName(stored, wideName, filled);
    shown = WideToAnsi(filled);
  }
  CutForMessageBox(shown);
  TAnsiString caption = Argument(0);
  MessageBoxA(nullptr, shown.CStr(), caption.CStr(), kBoxStyle);
  ExitProcess(0);
}
