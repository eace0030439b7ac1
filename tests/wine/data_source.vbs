' The data folder comes from the settings or, without a table in them, from
' the accounting application's install folder in the registry; the plug-in
' registers its data source under the current user with that folder, and
' registers it again when the settings name another.
' Usage: cscript //nologo data_source.vbs SAMPLE-FOLDER OTHER-FOLDER (both
' holding a_sname.dbf; the caller 01234 567890 only in SAMPLE-FOLDER)
Option Explicit
On Error Resume Next

Const Dsn = "HKCU\Software\ODBC\ODBC.INI\Ledra II SP1\"
Const Driver = "Microsoft FoxPro VFP Driver (*.dbf)"
Dim sh : Set sh = CreateObject("WScript.Shell")
Dim failures : failures = 0

Sub Check(name, got, expected)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL " & name & ": error " & Err.Number & " " & Err.Description
    Err.Clear
    failures = failures + 1
  ElseIf got <> expected Then
    WScript.Echo "FAIL " & name & ": got [" & got & "] expected [" & expected & "]"
    failures = failures + 1
  Else
    WScript.Echo "ok   " & name
  End If
End Sub

Function RegValue(path)
  RegValue = sh.RegRead(path)
  If Err.Number <> 0 Then RegValue = "<missing>" : Err.Clear
End Function

Sub ForgetDataSource()
  sh.Run "reg delete ""HKCU\Software\ODBC\ODBC.INI\Ledra II SP1"" /f", 0, True
End Sub

Dim sample : sample = WScript.Arguments(0)
Dim s, r
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
ForgetDataSource
sh.Run "reg add ""HKLM\SOFTWARE\Kestrin\Ledra Client\System"" /v PathToLedra /d ""C:\Ledra II"" /f", 0, True
If Not fso.FolderExists("C:\Ledra II") Then fso.CreateFolder "C:\Ledra II"
If Not fso.FolderExists("C:\Ledra II\data") Then fso.CreateFolder "C:\Ledra II\data"

' No table in the settings: the accounting application's folder + \data.
Set s = CreateObject("plgLedraII.Session")
Check "Initialize without DBFile", s.Initialize("", "", Nothing), ""
Check "Load registers the missing data source", s.Load(""), "{Result=Fail}{Reason=Could not load SName: NOTDSN}"
Check "SourceDB from PathToLedra", RegValue(Dsn & "SourceDB"), "C:\Ledra II\data"
Check "driver", RegValue(Dsn & "Driver"), Driver
Check "shared, deleted rows hidden", RegValue(Dsn & "Exclusive") & "," & RegValue(Dsn & "Deleted") & "," & RegValue(Dsn & "Null"), "No,Yes,Yes"
Check "listed among the data sources", RegValue("HKCU\Software\ODBC\ODBC.INI\ODBC Data Sources\Ledra II SP1"), Driver
Set s = Nothing

' A host with the folder A, then set to the folder B: it reads B.
Dim other : other = WScript.Arguments(1)
Set s = CreateObject("plgLedraII.Session")
s.Initialize "{DBFile=" & other & "\a_sname.dbf}", "", Nothing
Check "Load folder A", s.Load(""), "{Result=Success}"
Check "a caller only in B, in A", InStr(s.FindContact("{Tel=01234567890}"), "{Reason(S6)=NoFind}") > 0, True
If fso.FileExists("c:\fen.log") Then fso.DeleteFile "c:\fen.log"
s.Initialize "{DBFile=" & sample & "\a_sname.dbf}", "", Nothing
Check "Load folder B", s.Load(""), "{Result=Success}"
Check "SourceDB follows", RegValue(Dsn & "SourceDB"), sample
Check "the caller, in B", InStr(s.FindContact("{Tel=01234567890}"), "{Company(S8)=Acme Ltd}") > 0, True
r = Split(fso.OpenTextFile("c:\fen.log").ReadAll(), vbCrLf)
Check "one line logged", UBound(r), 1
Check "from which to which", Mid(r(0), InStr(r(0), "    @ ") + 6), _
  "Data source Ledra II SP1 registered again, from " & other & " to " & sample & " @ plgLedraII.Load"
Set s = Nothing

' A folder that is gone says so.
Set s = CreateObject("plgLedraII.Session")
s.Initialize "{DBFile=C:\Gone\a_sname.dbf}", "", Nothing
Check "a missing folder is reported", s.Load(""), _
  "{Result=Fail}{Reason=Could not load SName: The data folder C:\Gone does not exist or cannot be read}"
Set s = Nothing

' Without the registry value the folder is just \data.
ForgetDataSource
sh.Run "reg delete ""HKLM\SOFTWARE\Kestrin\Ledra Client\System"" /v PathToLedra /f", 0, True
Set s = CreateObject("plgLedraII.Session")
s.Initialize "", "", Nothing
s.Load ""
Check "SourceDB without PathToLedra", RegValue(Dsn & "SourceDB"), "\data"
Set s = Nothing
ForgetDataSource

If failures > 0 Then WScript.Echo failures & " failed" : WScript.Quit 1
WScript.Echo "all passed"
WScript.Quit 0
