#include "platform/StackTraceRender.h"

#include "platform/DebugInfo.h"
#include "platform/Posix.h"
#include "platform/StackTrace.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace StackTrace {

namespace Render {

namespace {

// Whether Text ends with an operator's name ("operator new", "operator<<").
bool IsOperatorName(const QString& Text)
{
  const qsizetype Start = std::max(Text.lastIndexOf(QLatin1Char(':')), Text.lastIndexOf(QLatin1Char(' '))) + 1;
  return Text.mid(Start).startsWith(QLatin1String("operator"));
}

QString FileNameOf(const char* Path)
{
  const QString Whole = QString::fromLocal8Bit(Path);
  return Whole.mid(Whole.lastIndexOf(QLatin1Char('/')) + 1);
}

// "f(int) const" -> "f".
QString WithoutParameterList(QString Name)
{
  for (const QLatin1String Suffix : {QLatin1String(" const"), QLatin1String(" volatile"), QLatin1String(" &&"),
                                     QLatin1String(" &")}) {
    if (Name.endsWith(Suffix))
      Name.chop(Suffix.size());
  }
  if (!Name.endsWith(QLatin1Char(')')))
    return Name;
  int Depth = 0;
  for (qsizetype I = Name.size() - 1; I >= 0; --I) {
    if (Name[I] == QLatin1Char(')'))
      ++Depth;
    else if (Name[I] == QLatin1Char('(') && --Depth == 0)
      return I > 0 ? Name.left(I) : Name;
  }
  return Name;
}

// "void ns::Function<int>(int) const [clone .cold]" -> "ns::Function<int>":
// return type, parameter list and clone marks add nothing a reader needs and
// make the lines long.
QString WithoutParameters(QString Name)
{
  while (Name.endsWith(QLatin1Char(']'))) {
    const qsizetype Clone = Name.lastIndexOf(QLatin1String(" [clone "));
    if (Clone < 0)
      break;
    Name.truncate(Clone);
  }
  Name = WithoutParameterList(Name);
  // A template's return type comes first, separated by a blank outside any
  // brackets ("operator new" and the like keep theirs).
  int Depth = 0;
  for (qsizetype I = Name.size() - 1; I >= 0; --I) {
    const QChar C = Name[I];
    if (C == QLatin1Char(')') || C == QLatin1Char('>') || C == QLatin1Char('}') || C == QLatin1Char(']'))
      ++Depth;
    else if (C == QLatin1Char('(') || C == QLatin1Char('<') || C == QLatin1Char('{') || C == QLatin1Char('['))
      --Depth;
    else if (C == QLatin1Char(' ') && Depth == 0 && !IsOperatorName(Name.left(I)))
      return Name.mid(I + 1);
  }
  return Name;
}

QString Demangled(const char* Versioned)
{
  // "name@@VERSION": the version of a symbol is no part of its name.
  const QByteArray Symbol = QByteArray(Versioned).split('@').value(0);
  const std::optional<QString> Plain = Posix::Demangled(Symbol.constData());
  return (Plain ? WithoutParameters(*Plain) : QString::fromUtf8(Symbol)).simplified();
}

QString ProcedureName(Dwarf_Die* Die)
{
  Dwarf_Attribute Attribute;
  for (const unsigned Name : {unsigned(DW_AT_linkage_name), unsigned(DW_AT_MIPS_linkage_name)}) {
    if (dwarf_attr_integrate(Die, Name, &Attribute)) {
      if (const char* Linkage = dwarf_formstring(&Attribute))
        return Demangled(Linkage);
    }
  }
  if (dwarf_attr_integrate(Die, DW_AT_name, &Attribute)) {
    if (const char* Plain = dwarf_formstring(&Attribute))
      return QString::fromUtf8(Plain).simplified();
  }
  return {};
}

// The source file of a call-site file index of the compile unit.
QString CallFileOf(Dwarf_Die* Cu, Dwarf_Die* Inlined)
{
  Dwarf_Attribute Attribute;
  Dwarf_Word Index = 0;
  if (!dwarf_attr(Inlined, DW_AT_call_file, &Attribute) || dwarf_formudata(&Attribute, &Index) != 0)
    return {};
  Dwarf_Files* Files = nullptr;
  std::size_t Count = 0;
  if (dwarf_getsrcfiles(Cu, &Files, &Count) != 0 || Index >= Count)
    return {};
  const char* Path = dwarf_filesrc(Files, Index, nullptr, nullptr);
  return Path ? FileNameOf(Path) : QString();
}

int CallLineOf(Dwarf_Die* Inlined)
{
  Dwarf_Attribute Attribute;
  Dwarf_Word Line = 0;
  if (!dwarf_attr(Inlined, DW_AT_call_line, &Attribute) || dwarf_formudata(&Attribute, &Line) != 0)
    return 0;
  return int(Line);
}

// The procedures at Pc from the debug information: the innermost inlined one
// first, each with the source line it was at.
QList<TProcedure> ProceduresFromDebugInfo(Dwfl_Module* Module, Dwarf_Addr Pc)
{
  QList<TProcedure> Procedures;
  Dwarf_Addr Bias = 0;
  Dwarf_Die* Cu = dwfl_module_addrdie(Module, Pc, &Bias);
  if (!Cu)
    return Procedures;
  QString File;
  int Line = 0;
  if (Dwfl_Line* SourceLine = dwfl_module_getsrc(Module, Pc)) {
    if (const char* Path = dwfl_lineinfo(SourceLine, nullptr, &Line, nullptr, nullptr, nullptr))
      File = FileNameOf(Path);
  }
  // The innermost scope at Pc, then the scopes that physically contain it:
  // an inlined call nests in the procedure it was inlined into.
  Dwarf_Die* Innermost = nullptr;
  if (dwarf_getscopes(Cu, Pc - Bias, &Innermost) <= 0) {
    std::free(Innermost);
    return Procedures;
  }
  Dwarf_Die* Scopes = nullptr;
  const int Count = dwarf_getscopes_die(&Innermost[0], &Scopes);
  std::free(Innermost);
  for (int I = 0; I < Count; ++I) {
    const int Tag = dwarf_tag(&Scopes[I]);
    if (Tag != DW_TAG_inlined_subroutine && Tag != DW_TAG_subprogram)
      continue;
    TProcedure Procedure{ProcedureName(&Scopes[I]), File, File.isEmpty() ? 0 : Line, 0};
    // A start line elsewhere (another file, or below the line) would give
    // a meaningless offset: the compiler's record of inlining is not always
    // complete.
    int StartLine = 0;
    const char* DeclFile = dwarf_decl_file(&Scopes[I]);
    if (dwarf_decl_line(&Scopes[I], &StartLine) == 0 && DeclFile && FileNameOf(DeclFile) == File && StartLine <= Line)
      Procedure.StartLine = StartLine;
    Procedures.append(Procedure);
    if (Tag == DW_TAG_subprogram)
      break;
    // The enclosing procedure stands at the line of this inlined call.
    File = CallFileOf(Cu, &Scopes[I]);
    Line = CallLineOf(&Scopes[I]);
  }
  std::free(Scopes);
  return Procedures;
}

TResolved Resolve(TSession& Session, std::uintptr_t Pc)
{
  TResolved Result;
  Dwfl_Module* Module = Session.ModuleAt(Pc);
  if (!Module)
    return Result;
  Dwarf_Addr Start = 0;
  const char* ModuleName = dwfl_module_info(Module, nullptr, &Start, nullptr, nullptr, nullptr, nullptr, nullptr);
  Result.HasModule = true;
  Result.ModuleName = ModuleName ? FileNameOf(ModuleName) : QString();
  Result.Offset = Pc - Start;
  Result.Procedures = ProceduresFromDebugInfo(Module, Pc);

  // The symbol table names what the debug information does not (modules
  // without it, procedures it leaves unnamed).
  GElf_Off SymbolOffset = 0;
  GElf_Sym Symbol;
  const char* SymbolName = dwfl_module_addrinfo(Module, Pc, &SymbolOffset, &Symbol, nullptr, nullptr, nullptr);
  if (Result.Procedures.isEmpty())
    Result.Procedures.append(TProcedure{});
  // The symbol names the procedure the code belongs to in full (the debug
  // information leaves the class of a lambda, for one, unnamed).
  if (SymbolName)
    Result.Procedures.last().Name = Demangled(SymbolName);
  return Result;
}

QString Hex(std::uintptr_t Value, int Width)
{
  return QString::number(Value, 16).toUpper().rightJustified(Width, QLatin1Char('0'));
}

// The lines of one frame: one per procedure, the innermost inlined call first.
QStringList FrameLines(std::uintptr_t Pc, const TResolved& Frame, bool IncludeModuleName, bool IncludeAddressOffset,
                       bool IncludeStartProcLineOffset, bool IncludeVAddress)
{
  QString Prefix;
  if (IncludeVAddress)
    Prefix += QLatin1Char('(') + Hex(Pc, 16) + QStringLiteral(") ");
  if (IncludeModuleName && Frame.HasModule)
    Prefix += QLatin1Char('{') + Frame.ModuleName + QStringLiteral("} ");
  if (IncludeAddressOffset)
    Prefix += QLatin1Char('[') + (Frame.HasModule ? Hex(Frame.Offset, 8) : QStringLiteral("????????")) +
              QStringLiteral("] ");
  QStringList Lines;
  for (const TProcedure& Procedure : Frame.Procedures) {
    QString Line = Prefix + (Procedure.Name.isEmpty() ? QStringLiteral("??") : Procedure.Name);
    if (Procedure.Line > 0) {
      Line += QStringLiteral(" (Line %1, \"%2\"").arg(Procedure.Line).arg(Procedure.File);
      if (IncludeStartProcLineOffset && Procedure.StartLine > 0)
        Line += QStringLiteral(" + %1").arg(Procedure.Line - Procedure.StartLine);
      Line += QLatin1Char(')');
    }
    Lines.append(Line);
  }
  return Lines;
}

}  // namespace

void TSession::Close()
{
  if (Modules)
    dwfl_end(Modules);
  Modules = nullptr;
  Resolved.clear();
}

void TSession::Open()
{
  Modules = dwfl_begin(&DebugInfo::ProcessCallbacks);
  if (!Modules)
    return;
  dwfl_report_begin(Modules);
  if (dwfl_linux_proc_report(Modules, Pid ? Pid : getpid()) != 0 || dwfl_report_end(Modules, nullptr, nullptr) != 0) {
    dwfl_end(Modules);
    Modules = nullptr;
  }
}

Dwfl_Module* TSession::ModuleAt(Dwarf_Addr Pc)
{
  if (!Modules)
    Open();
  Dwfl_Module* Module = Modules ? dwfl_addrmodule(Modules, Pc) : nullptr;
  if (!Module) {
    // A module loaded after the session was opened: read the list again.
    Close();
    Open();
    Module = Modules ? dwfl_addrmodule(Modules, Pc) : nullptr;
  }
  return Module;
}

bool RenderFrames(TSession& Session, const std::vector<std::uintptr_t>& Frames, QStringList& Strings,
                  bool IncludeModuleName, bool IncludeAddressOffset, bool IncludeStartProcLineOffset,
                  bool IncludeVAddress)
{
  Strings.clear();
  if (Frames.empty())
    return false;

  const int Options = int(IncludeModuleName) | int(IncludeAddressOffset) << 1 |
                      int(IncludeStartProcLineOffset) << 2 | int(IncludeVAddress) << 3;
  for (const std::uintptr_t ReturnAddress : Frames) {
    // A return address points after the call; the call itself is one back.
    const std::uintptr_t Pc = ReturnAddress - 1;
    auto It = Session.Resolved.find(Pc);
    if (It == Session.Resolved.end())
      It = Session.Resolved.insert(Pc, Resolve(Session, Pc));
    TResolved& Frame = *It;
    if (Frame.LinesOptions != Options) {
      Frame.Lines = FrameLines(Pc, Frame, IncludeModuleName, IncludeAddressOffset, IncludeStartProcLineOffset,
                               IncludeVAddress);
      Frame.LinesOptions = Options;
    }
    Strings.append(Frame.Lines);
  }
  return true;
}

}  // namespace Render

bool ProcessStackListToStrings(pid_t Pid, const std::vector<std::uintptr_t>& Frames, QStringList& Strings,
                               bool IncludeModuleName, bool IncludeAddressOffset, bool IncludeStartProcLineOffset,
                               bool IncludeVAddress)
{
  Render::TSession Session(Pid);
  return Render::RenderFrames(Session, Frames, Strings, IncludeModuleName, IncludeAddressOffset,
                              IncludeStartProcLineOffset, IncludeVAddress);
}

}  // namespace StackTrace
