' The lookups as a telephony host times them: through the DLL, by the script
' host's own clock, over many calls of each kind. Prints milliseconds.
' Usage: cscript //nologo dll_timing.vbs FOLDER [CALLS]
'   FOLDER holds a_pname.dbf and a_sname.dbf (ledra-sample, or make bench's
'   build/bench-data/ROWS).
Option Explicit
On Error Resume Next
Dim s, calls, t0, loaded, r, i
calls = 1000
If WScript.Arguments.Count > 1 Then calls = CLng(WScript.Arguments(1))

Sub Check(what)
  If Err.Number <> 0 Then WScript.Echo "FAIL " & what & ": " & Err.Description : WScript.Quit 1
End Sub

Function Ms(since, n)
  Ms = FormatNumber((Timer - since) * 1000 / n, 3)
End Function

Set s = CreateObject("plgLedraII.Session")
Check "CreateObject"
s.Initialize "{DBFile=" & WScript.Arguments(0) & "\a_sname.dbf}", "", Nothing
t0 = Timer
r = s.Load("")
loaded = Timer
Check "Load"
WScript.Echo "Load                            " & Ms(t0, 1) & "  " & r
t0 = Timer : r = s.FindContact("{Tel=01234 567890}")
WScript.Echo "number, known, right after Load " & Ms(t0, 1)
Do While Timer - loaded < 3 : Loop  ' Wine's script host has no WScript.Sleep
t0 = Timer : r = s.FindContact("{Tel=01234 567890}")
WScript.Echo "number, known, 3 s after Load   " & Ms(t0, 1)
If InStr(r, "pnACME01") = 0 Then WScript.Echo "FAIL the known caller: " & r

' The warm figures only once the worker's keys answer: until then a call
' may scan, and one scan among the calls would be most of their time.
Dim waited, fast
waited = Timer
Do
  t0 = Timer
  For i = 1 To 20 : r = s.FindContact("{Tel=01234 567890}") : Next
  fast = (Timer - t0) < 0.05
Loop Until fast Or Timer - waited > 120
WScript.Echo "warm after Load                 " & FormatNumber(Timer - loaded, 1) & " s"

Sub Measure(name, list, request)
  Dim k, t
  t = Timer
  For k = 1 To calls
    If request = "" Then
      r = s.Capabilities()
    ElseIf list Then
      r = s.FindList(CStr(request))
    Else
      r = s.FindContact(CStr(request))
    End If
  Next
  Check name
  WScript.Echo name & Space(32 - Len(name)) & Ms(t, calls) & "  " & Left(r, 60)
End Sub
Measure "a call that reads no table", False, ""
Measure "number, no match", False, "{Tel=09876 543210}"
Measure "number, known", False, "{Tel=01234 567890}"
Measure "words", True, "{Text=dave pennington}"
Measure "letter", True, "{Begin=M}"
s.Unload
WScript.Echo "all done (" & calls & " calls each)"
