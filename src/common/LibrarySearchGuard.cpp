#include "common/LibrarySearchGuard.h"

namespace quarry {

namespace {

// Load order matters: a library loaded early is the one later imports bind
// to, so each list keeps the order in which the system itself would load
// them. The 6.0 base group names rasadhlp.dll twice; the second load only
// adds a reference.
constexpr const char16_t* kLegacyCryptoGroup[] = {
    u"rsaenh.dll", u"bcrypt.dll",
};
constexpr const char16_t* kBaseGroup5[] = {
    u"lpk.dll", u"usp10.dll", u"version.dll", u"user32.dll", u"ole32.dll", u"oleaut32.dll",
    u"shell32.dll", u"msvcrt.dll", u"shlwapi.dll", u"gdi32.dll", u"urlmon.dll", u"wininet.dll",
    u"imagehlp.dll", u"wldap32.dll", u"crypt32.dll", u"imm32.dll", u"comres.dll", u"xpsp2res.dll",
    u"ws2help.dll", u"cabinet.dll", u"samlib.dll", u"uxtheme.dll", u"msctf.dll", u"msasn1.dll",
    u"clbcatq.dll", u"netapi32.dll", u"rsaenh.dll", u"apphelp.dll", u"msxml3.dll", u"setupapi.dll",
    u"msctfime.ime", u"imjp81.ime", u"imjp81k.dll", u"imjp9k.dll", u"imjp10k.dll", u"imjp12k.dll",
    u"imjp14k.dll", u"..\\ime\\imjp8_1\\dicts\\imjpcd.dic", u"wintrust.dll", u"riched20.dll",
    u"cryptui.dll", u"shdocvw.dll", u"mlang.dll", u"ws2_32.dll", u"userenv.dll", u"psapi.dll",
    u"sensapi.dll", u"winhttp.dll", u"cryptnet.dll", u"wbem\\wbemcomn.dll", u"wbem\\wbemprox.dll",
    u"wbem\\wbemsvc.dll", u"msvcp60.dll", u"dnsapi.dll", u"ntdsapi.dll", u"hnetcfg.dll",
    u"winmm.dll", u"rtutils.dll", u"tapi32.dll", u"rasman.dll", u"rasapi32.dll",
    u"wbem\\fastprox.dll", u"ntmarta.dll", u"rasadhlp.dll",
};
constexpr const char16_t* kBaseGroup60[] = {
    u"ole32.dll", u"gdi32.dll", u"user32.dll", u"imm32.dll", u"msctf.dll", u"lpk.dll",
    u"usp10.dll", u"version.dll", u"shlwapi.dll", u"oleaut32.dll", u"nsi.dll", u"ws2_32.dll",
    u"wldap32.dll", u"uxtheme.dll", u"msvcrt.dll", u"clbcatq.dll", u"shdocvw.dll", u"shell32.dll",
    u"msasn1.dll", u"imagehlp.dll", u"psapi.dll", u"imjp10k.dll", u"imjp12k.dll", u"imjp14k.dll",
    u"ime\\shared\\imetip.dll", u"ime\\shared\\imecfm.dll", u"ime\\imejp10\\imjpapi.dll",
    u"ime\\shared\\imjkapi.dll", u"ime\\shared\\imeapis.dll", u"setupapi.dll", u"cabinet.dll",
    u"samlib.dll", u"msxml3.dll", u"iertutil.dll", u"propsys.dll", u"apphelp.dll", u"userenv.dll",
    u"crypt32.dll", u"rsaenh.dll", u"wintrust.dll", u"ntmarta.dll", u"oleacc.dll",
    u"ime\\imejp10\\imjptip.dll", u"wbem\\wbemsvc.dll", u"wbem\\wbemcomn.dll",
    u"wbem\\wbemprox.dll", u"wbem\\fastprox.dll", u"netapi32.dll", u"dnsapi.dll", u"ntdsapi.dll",
    u"urlmon.dll", u"rasadhlp.dll", u"slc.dll", u"gpapi.dll", u"sensapi.dll", u"cryptnet.dll",
    u"winhttp.dll", u"bcrypt.dll", u"ncrypt.dll", u"rasadhlp.dll", u"winnsi.dll", u"dhcpcsvc6.dll",
    u"dhcpcsvc.dll", u"iphlpapi.dll", u"mpr.dll",
};
constexpr const char16_t* kBaseGroupOther[] = {
    u"ole32.dll", u"gdi32.dll", u"user32.dll", u"lpk.dll", u"usp10.dll", u"imm32.dll",
    u"msctf.dll", u"oleaut32.dll", u"setupapi.dll", u"urlmon.dll", u"iertutil.dll", u"wininet.dll",
    u"clbcatq.dll", u"shlwapi.dll", u"shell32.dll", u"imagehlp.dll", u"nsi.dll", u"ws2_32.dll",
    u"wldap32.dll", u"normaliz.dll", u"version.dll", u"dwmapi.dll", u"actxprxy.dll", u"oleacc.dll",
    u"cabinet.dll", u"imjp10k.dll", u"imjp12k.dll", u"imjp14k.dll", u"ime\\shared\\imetip.dll",
    u"ime\\shared\\imecfm.dll", u"ime\\imejp10\\imjpapi.dll", u"ime\\shared\\imjkapi.dll",
    u"ime\\shared\\imeapis.dll", u"propsys.dll", u"cryptbase.dll", u"uxtheme.dll", u"cryptsp.dll",
    u"rsaenh.dll", u"rpcrtremote.dll", u"msasn1.dll", u"wbemcomn.dll", u"wbem\\wbemsvc.dll",
    u"ntdsapi.dll", u"profapi.dll", u"ntmarta.dll", u"msxml3.dll", u"sspicli.dll", u"dnsapi.dll",
    u"winnsi.dll", u"iphlpapi.dll", u"apphelp.dll", u"sxs.dll", u"shdocvw.dll",
    u"ime\\imejp10\\imjptip.dll", u"crypt32.dll", u"wintrust.dll", u"duser.dll", u"dui70.dll",
    u"explorerframe.dll", u"wbem\\wbemprox.dll", u"wbem\\fastprox.dll", u"devobj.dll",
    u"cfgmgr32.dll", u"rasadhlp.dll", u"gpapi.dll", u"userenv.dll", u"authz.dll", u"peerdist.dll",
    u"cryptnet.dll", u"sensapi.dll", u"webio.dll", u"winhttp.dll", u"bcrypt.dll", u"ncrypt.dll",
    u"secur32.dll", u"mpr.dll",
};
constexpr const char16_t* kShellGroup5[] = {
    u"mpr.dll", u"comdlg32.dll", u"shdoclc.dll", u"cscdll.dll", u"browseui.dll", u"atl.dll",
    u"ntshrui.dll", u"linkinfo.dll", u"userenv.dll", u"drprov.dll", u"mydocs.dll", u"cscui.dll",
    u"netrap.dll", u"netui0.dll", u"netui1.dll", u"ntlanman.dll", u"davclnt.dll", u"shgina.dll",
    u"odbcint.dll", u"odbc32.dll", u"msgina.dll", u"winsta.dll", u"mstask.dll", u"wsock32.dll",
    u"webcheck.dll", u"occache.dll", u"adsldpc.dll", u"activeds.dll", u"twext.dll",
    u"wiashext.dll",
};
constexpr const char16_t* kShellGroup60[] = {
    u"normaliz.dll", u"windowscodecs.dll", u"duser.dll", u"xmllite.dll", u"ntshrui.dll",
    u"cscapi.dll", u"slc.dll", u"mpr.dll", u"drprov.dll", u"portabledeviceapi.dll", u"wmasf.dll",
    u"networkitemfactory.dll", u"npmproxy.dll", u"actxprxy.dll", u"mssprxy.dll", u"browseui.dll",
    u"wininet.dll", u"networkexplorer.dll", u"ntlanman.dll", u"davclnt.dll", u"winmm.dll",
    u"wpdshext.dll", u"wmvcore.dll", u"audiodev.dll", u"firewallapi.dll", u"dtsh.dll",
};
constexpr const char16_t* kShellGroupOther[] = {
    u"psapi.dll", u"windowscodecs.dll", u"ehstorshell.dll", u"slc.dll", u"netutils.dll",
    u"xmllite.dll", u"linkinfo.dll", u"msxml6.dll", u"msxml3.dll", u"winsta.dll", u"wkscli.dll",
    u"portabledeviceapi.dll", u"ehstorapi.dll", u"npmproxy.dll", u"cscapi.dll", u"ntshrui.dll",
    u"srvcli.dll", u"sspicli.dll", u"samcli.dll", u"samlib.dll", u"shdocvw.dll",
    u"searchfolder.dll", u"structuredquery.dll", u"sxs.dll", u"mapi32.dll", u"mssprxy.dll",
    u"tquery.dll", u"ntlanman.dll", u"davhlpr.dll", u"networkexplorer.dll",
    u"networkitemfactory.dll", u"cscdll.dll", u"cscui.dll", u"mssvp.dll", u"winmm.dll",
    u"wpdshext.dll", u"ieframe.dll", u"drprov.dll", u"davclnt.dll", u"wmasf.dll", u"wmvcore.dll",
    u"audiodev.dll", u"firewallapi.dll", u"dtsh.dll",
};
constexpr const char16_t* kExplorerGroup60[] = {
    u"normaliz.dll", u"sxs.dll", u"actxprxy.dll", u"wininet.dll", u"explorerFrame.dll",
    u"duser.dll", u"browseui.dll", u"ieframe.dll",
};
constexpr const char16_t* kNeighbourFiles[] = {
    u"api-ms-win-core-synch-l1-2-0.dll", u"api-ms-win-core-fibers-l1-1-1.dll",
    u"api-ms-win-core-localization-l1-2-1.dll", u"api-ms-win-appmodel-runtime-l1-1-1.dll",
    u"ext-ms-win-kernel32-package-current-l1-1-0.dll", u"rsaenh.dll", u"imageres.dll",
    u"msfte.dll", u"msTracer.dll",
};
constexpr const char16_t* kNeighbourFilesBefore60[] = {
    u"shell32.dll",
};

template <std::size_t N>
constexpr LibraryList ListOf(const char16_t* const (&names)[N]) {
    return {names, N};
}

enum class Era { Windows5, Windows60, Later };

Era EraOf(unsigned major, unsigned minor) {
    if (major <= 5) return Era::Windows5;
    if (major == 6 && minor == 0) return Era::Windows60;
    return Era::Later;
}

}  // namespace

LibraryList LegacyCryptoGroup() { return ListOf(kLegacyCryptoGroup); }

LibraryList BaseGroup(unsigned major, unsigned minor) {
    switch (EraOf(major, minor)) {
    case Era::Windows5: return ListOf(kBaseGroup5);
    case Era::Windows60: return ListOf(kBaseGroup60);
    default: return ListOf(kBaseGroupOther);
    }
}

LibraryList ShellGroup(unsigned major, unsigned minor) {
    switch (EraOf(major, minor)) {
    case Era::Windows5: return ListOf(kShellGroup5);
    case Era::Windows60: return ListOf(kShellGroup60);
    default: return ListOf(kShellGroupOther);
    }
}

LibraryList ExplorerGroup(unsigned major, unsigned minor) {
    if (EraOf(major, minor) == Era::Windows60) return ListOf(kExplorerGroup60);
    return {nullptr, 0};
}

LibraryList NeighbourFiles() { return ListOf(kNeighbourFiles); }

LibraryList NeighbourFilesBefore60() { return ListOf(kNeighbourFilesBefore60); }

bool IsBeforeWindows61(unsigned major, unsigned minor) {
    return major < 6 || (major == 6 && minor == 0);
}

}  // namespace quarry
