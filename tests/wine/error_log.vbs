' Failures inside the plug-in never reach the host: each becomes one line in
' c:\fen.log with the application name, the local date and time, and the
' failure text (description followed by the procedure's label); the same
' failure again within a minute is not written again. Where c:\fen.log cannot
' be opened for append, the line goes to the user's own log, and ledra check
' names that file.
' Usage: cscript //nologo error_log.vbs LEDRA-EXE (joined after check.vbs)

Const LogPath = "c:\fen.log"
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim sh : Set sh = CreateObject("WScript.Shell")
' (Wine's ExpandEnvironmentStrings keeps the closing NUL.)
Dim userLog : userLog = Replace(sh.ExpandEnvironmentStrings("%LOCALAPPDATA%"), Chr(0), "") & "\LedraII\fen.log"
If fso.FileExists(LogPath) Then fso.DeleteFile LogPath
If fso.FileExists(userLog) Then fso.DeleteFile userLog

Sub Fail(msg)
  WScript.Echo "FAIL " & msg
  failures = failures + 1
End Sub

Function Stamp()
  Stamp = CStr(Date) & " " & CStr(Time)
End Function

' The lines of a log file, which must end with CR LF.
Function LogLines(path)
  Dim l : l = Array("")
  If fso.FileExists(path) Then l = Split(fso.OpenTextFile(path).ReadAll(), vbCrLf) Else Fail "no log file " & path
  If l(UBound(l)) <> "" Then Fail path & " does not end with CR LF"
  LogLines = l
End Function

' A line's layout, with its time between two stamps taken around the call.
Sub CheckLine(line, tail, before, after)
  Dim stampPart
  If Left(line, 10) <> "LedraII - " Then Fail "line starts [" & Left(line, 10) & "]"
  If Right(line, Len(tail)) <> tail Then Fail "line ends [" & line & "]"
  stampPart = Mid(line, 11, Len(line) - 10 - Len(tail))
  If stampPart <> before And stampPart <> after Then Fail "line time [" & stampPart & "] not [" & before & "]"
  WScript.Echo "line: " & line
End Sub

Dim s, before, after, r, lines
Set s = NewSession()

' Two settings that are neither numbers nor True/False: the same failure
' twice, written once, and the call still answers normally.
before = Stamp()
r = s.Initialize("{UseSuppliers(S5)=maybe}{UseCustomers(S7)=perhaps}", "", Nothing)
after = Stamp()
If Err.Number <> 0 Then Fail "Initialize raised " & Err.Description : Err.Clear
If r <> "" Then Fail "Initialize answered [" & r & "]"
lines = LogLines(LogPath)
If UBound(lines) <> 1 Then Fail "expected one line, got " & UBound(lines)
CheckLine lines(0), "    @ Type mismatch @ plugin.Session.InitializeReal", before, after

' c:\fen.log a folder: the user's own log.
fso.DeleteFile LogPath
fso.CreateFolder LogPath
before = Stamp()
r = s.Initialize("{DBFile=C:\No such folder\a_sname.dbf}", "", Nothing)
r = s.Load("")
after = Stamp()
If Err.Number <> 0 Then Fail "Load raised " & Err.Description : Err.Clear
lines = LogLines(userLog)
If UBound(lines) < 1 Then Fail "nothing in " & userLog Else _
  CheckLine lines(UBound(lines) - 1), _
    "    @ The data folder C:\No such folder does not exist or cannot be read @ plgLedraII.Load", before, after
sh.Run "cmd /c """"" & WScript.Arguments(0) & """ check > c:\check.txt""", 0, True
If InStr(fso.OpenTextFile("c:\check.txt").ReadAll(), "log         " & userLog & vbCrLf) = 0 Then _
  Fail "ledra check does not name " & userLog & ": " & fso.OpenTextFile("c:\check.txt").ReadAll()
fso.DeleteFolder LogPath
fso.DeleteFile "c:\check.txt"

Finish
