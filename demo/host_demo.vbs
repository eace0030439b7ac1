' A telephony host's session against the sample company: identify a caller,
' search by words, list a letter, walk the cache. Run by `make demo`.
' Usage: cscript //nologo host_demo.vbs CUSTOMER-TABLE-PATH
Option Explicit
On Error Resume Next

Dim s, dataRd, r, i, n, rec, fields, counts
If WScript.Arguments.Count < 1 Then WScript.Echo "usage: host_demo.vbs PATH\a_sname.dbf" : WScript.Quit 2

Sub Show(title, answer)
  If Err.Number <> 0 Then WScript.Echo "error " & Err.Number & ": " & Err.Description : WScript.Quit 1
  WScript.Echo title
  WScript.Echo "  " & answer
End Sub

Set s = CreateObject("plgLedraII.Session")
If Err.Number <> 0 Then WScript.Echo "cannot create plgLedraII.Session: " & Err.Description : WScript.Quit 1

Show "Capabilities", s.Capabilities()
dataRd = "{DBFile(S" & Len(WScript.Arguments(0)) & ")=" & WScript.Arguments(0) & "}"
Show "Initialize " & dataRd, s.Initialize(dataRd, "", Nothing)
Show "Load", s.Load("")
Show "FindContact {Tel=01234 567890}  (the phone rings)", s.FindContact("{Tel=01234 567890}")
Show "FindContact {Tel=+44 161 496 0000}  (a country code in front: no match unless MatchLastDigits is set)", s.FindContact("{Tel=+44 161 496 0000}")
Show "FindList {Text=acme}", s.FindList("{Text=acme}{MaxFind=3}")
Show "FindList {Begin=H}{MaxFind=3}", s.FindList("{Begin=H}{MaxFind=3}")
Show "FindContact {Id=pnACME01}", s.FindContact("{Id=pnACME01}")

r = s.CacheStart()
Show "CacheStart", r
n = 0 : counts = ""
Do
  rec = s.CacheRecord()
  If Err.Number <> 0 Then WScript.Echo "error " & Err.Description : WScript.Quit 1
  If InStr(rec, "{Result=Ignore}") = 1 Then
    counts = counts & n & " suppliers, "
    n = 0
  ElseIf InStr(rec, "{Result(S3)=Eof}") = 1 Then
    Exit Do
  Else
    n = n + 1
    If n = 1 Then WScript.Echo "  first record: " & rec
  End If
Loop
WScript.Echo "Cache walk: " & counts & n & " customers, then " & rec
Show "CacheEnd", s.CacheEnd()
Show "Unload", s.Unload()
Show "Uninitialize", s.Uninitialize()
Set s = Nothing
WScript.Quit 0
