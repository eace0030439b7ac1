' A host session as the telephony application runs it: create the Session by
' its ProgID, call the host contract in the host's order, check every answer.
' (Joined after check.vbs.)
Dim s, t, dataRd, userRd, cb
Set s = NewSession()

Check "Install", s.Install(), ""
dataRd = "{DBFile(S25)=C:\nowhere\data\a_sname.dbf}"
userRd = "{User(S4)=anna}"
Set cb = Nothing
Check "Initialize", s.Initialize(dataRd, userRd, cb), ""
Check "Capabilities", s.Capabilities(), "{Version=2.0}{Name=LedraII}{Description=Kestrin Ledra II}{Comments=}" & _
  "{Client=1}{Server=1}{NeedContact=Show Contact,Sales processing,Order processing,Purchase orders}"
Check "CapabilitiesReal", s.CapabilitiesReal(), _
  "{Client=1}{Server=1}{NeedContact=Show Contact,Sales processing,Order processing,Purchase orders}"
Check "Blocked", s.Blocked(), False
t = "Prop"
Check "SetProperty", s.SetProperty(t, 5), ""
Check "GetProperty", s.GetProperty(t), ""
Check "InstallReal", s.InstallReal(), ""
Check "UninitializeReal", s.UninitializeReal(), ""
Check "CheckRunning", s.CheckRunning(False), False
' Literals as well as variables reach by-reference parameters.
Check "Initialize literals", s.Initialize("{UseSuppliers=0}", "", Nothing), ""
Check "Uninitialize", s.Uninitialize(), ""
Check "Uninstall", s.Uninstall(), ""
Set s = Nothing
Finish
