' The data folder comes from the settings or, without a table in them, from
' the accounting application's install folder in the registry; the plug-in
' registers its data source under the current user with that folder, and a
' data source that opens keeps its folder until it is registered anew.
' Usage: cscript //nologo data_source.vbs SAMPLE-FOLDER (holding a_sname.dbf),
' joined after check.vbs

Const Dsn = "HKCU\Software\ODBC\ODBC.INI\Ledra II SP1\"
Const Driver = "Microsoft FoxPro VFP Driver (*.dbf)"
Dim sh : Set sh = CreateObject("WScript.Shell")

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

' A table in the settings, but the data source still opens: its old folder stays.
Set s = CreateObject("plgLedraII.Session")
s.Initialize "{DBFile=" & sample & "\a_sname.dbf}", "", Nothing
Check "a working data source keeps its folder", s.Load(""), "{Result=Fail}{Reason=Could not load SName: }"
Check "SourceDB unchanged", RegValue(Dsn & "SourceDB"), "C:\Ledra II\data"

' Registered anew, it takes the settings' folder.
ForgetDataSource
Check "Load with the sample table", s.Load(""), "{Result=Success}"
Check "SourceDB from DBFile", RegValue(Dsn & "SourceDB"), sample
Set s = Nothing

'A data source whose folder is gone is registered anew with the current one.
ForgetDataSource
Set s = CreateObject("plgLedraII.Session")
s.Initialize "{DBFile=C:\Gone\a_sname.dbf}", "", Nothing
Check "a missing folder is reported", s.Load(""), _
  "{Result=Fail}{Reason=Could not load SName: The data folder C:\Gone does not exist or cannot be read}"
s.Initialize "{DBFile=" & sample & "\a_sname.dbf}", "", Nothing
Check "a data source over a missing folder is replaced", s.Load(""), "{Result=Success}"
Check "SourceDB replaced", RegValue(Dsn & "SourceDB"), sample
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

Finish
