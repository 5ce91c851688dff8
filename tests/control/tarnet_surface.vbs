' The Tarnet control as a script host sees it: created by ProgID, DefaultPort set, its
' methods called and their results checked. Wine's script host cannot receive events
' (the C++ host test covers them), and an unhandled script error ends it silently with
' exit code 0, so the script counts its own failures, says DONE at its very end, and
' ends with "WScript.Quit failures".
'
'   cscript //nologo tarnet_surface.vbs PORT0 PORT1     (two controllers of ctlsim)
Option Explicit

Dim failures, t, port0, port1, host
failures = 0
host = "127.0.0.1"

Sub Check(condition, what)
    If Not condition Then
        failures = failures + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

' A TCP port as the control's 16-bit Port argument (ports above 32767 are negative).
Function PortArgument(text)
    Dim p
    p = CLng(text)
    If p > 32767 Then p = p - 65536
    PortArgument = CInt(p)
End Function

port0 = PortArgument(WScript.Arguments(0))
port1 = PortArgument(WScript.Arguments(1))

Set t = CreateObject("TARNET.TarnetCtrl.1")
Check t.DefaultPort = 5768, "DefaultPort starts at 5768"
t.DefaultPort = port0
Check t.DefaultPort = port0, "DefaultPort keeps what was written"

Check t.ConnectToServerH(host) = 0, "ConnectToServerH connects"
Check t.ConnectToServer(host, port0) = 0, "ConnectToServer of a connected link"
Check t.EnabledUploadH(host, 1) = 0, "EnabledUploadH sends the switch"
Check t.SendDataH(host, &H20, 7, 0, "0aFz", 4) = 0, "SendDataH sends"
Check t.SendData(host, port0, &H21, 8, 0, "0aFz9", 5) = 0, "SendData sends"
Check t.SendData(host, port1, &H20, 1, 0, "01", 2) = 1, "SendData to a pair never connected"
Check t.SendData(host, port0, &H20, 1, 0, "01", 9000) = 4, "SendData with DataLen above 8171"
Check t.SendData(host, port0, &H20, 1, 0, "01", 3) = 4, "SendData with Data shorter than DataLen"
Check t.EnableUpload(host, port1, 1) = 1, "EnableUpload of a pair never connected"
Check t.ConnectToServer(host, port1) = 0, "ConnectToServer of the second controller"
Check t.ConnectToServer("198.51.100.7", 5768) = 10060, "a host that never answers echo"

' Disconnect takes the first link of that text whatever the port.
t.Disconnect host, 1
t.DisconnectAll
Check t.SendData(host, port0, &H20, 1, 0, "01", 2) = 1, "DisconnectAll removed every link"

' Wrong calls are errors of the call, not results.
On Error Resume Next
Err.Clear
t.SendData host, port0
Check Err.Number <> 0, "a call with too few arguments fails"
Err.Clear
Dim r
r = t.ConnectToServer(host, 70000)
Check Err.Number <> 0, "a port outside 16 bits fails"
Err.Clear
On Error GoTo 0

t.AboutBox
Set t = Nothing
WScript.Echo "DONE failures=" & failures
WScript.Quit failures
