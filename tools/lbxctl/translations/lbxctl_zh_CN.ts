<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>lbxctl</name>
    <message>
        <source>&quot;%1&quot; is not an IPv4 range such as 10.80.0.0/24 (decimal numbers without leading zeros, a prefix from %2 to 32)</source>
        <translation>&quot;%1&quot; 不是 IPv4 地址范围，应如 10.80.0.0/24（十进制数字、无前导零，前缀 %2 到 32）</translation>
    </message>
    <message>
        <source>%1 holds more than a /%2: sweep it as several smaller ranges</source>
        <translation>%1 大于 /%2：请分成几个较小的范围扫描</translation>
    </message>
    <message>
        <source>%1 lies in 0.0.0.0/8, multicast or reserved space, where no converter can be</source>
        <translation>%1 位于 0.0.0.0/8、组播或保留地址空间，其中不可能有转换器</translation>
    </message>
    <message>
        <source>cannot read the plan %1: %2</source>
        <translation>无法读取计划 %1：%2</translation>
    </message>
    <message>
        <source>
nothing was sent</source>
        <translation>
未发送任何请求</translation>
    </message>
    <message>
        <source>%1 holds no converter</source>
        <translation>%1 中没有转换器</translation>
    </message>
    <message>
        <source>missing: in the plan, did not answer</source>
        <translation>缺失：在计划中，未应答</translation>
    </message>
    <message>
        <source>ambiguous: answered from %1; not set</source>
        <translation>有歧义：从 %1 应答；未设置</translation>
    </message>
    <message>
        <source>ambiguous: %1 answers as %2; not set</source>
        <translation>有歧义：%1 以 %2 应答；未设置</translation>
    </message>
    <message>
        <source>set %1 -&gt; %2</source>
        <translation>设置 %1 -&gt; %2</translation>
    </message>
    <message>
        <source>not in plan</source>
        <translation>不在计划中</translation>
    </message>
    <message>
        <source>, %1 ambiguous</source>
        <translation>，%1 个有歧义</translation>
    </message>
    <message>
        <source>; nothing was set</source>
        <translation>；未设置任何转换器</translation>
    </message>
    <message>
        <source>%1 set, %2 confirmed, %3 unchanged, %4 missing%5; %6 datagrams sent</source>
        <translation>%1 个已设置，%2 个已确认，%3 个无需更改，%4 个缺失%5；共发送 %6 个数据报</translation>
    </message>
    <message>
        <source>answers may be missing</source>
        <translation>可能缺少应答</translation>
    </message>
    <message>
        <source>Asks a silent converter this many more times (default %1); it is set again only when lbx.info shows it up and not set.</source>
        <translation>转换器无应答时再询问的次数（默认 %1）；仅当 lbx.info 显示它在线且未设置时才再次设置。</translation>
    </message>
    <message>
        <source>Prints the plan of change and sends nothing but the search.</source>
        <translation>打印更改计划，除搜索外不发送任何请求。</translation>
    </message>
    <message>
        <source>CSV with the header uuid,baud,plugin (an empty plugin keeps the converter&apos;s own), JSON lines with those members, or a roster (discover --save, --backup), whose settings it puts back.</source>
        <translation>CSV（表头 uuid,baud,plugin；plugin 为空则保留转换器自己的协议插件）、含这些成员的 JSON 行，或设备清单（discover --save、--backup），其中的设置将被恢复。</translation>
    </message>
    <message>
        <source>nothing to change: %1 of %2 converters in the plan are as planned</source>
        <translation>无需更改：计划中的 %2 台转换器有 %1 台已符合计划</translation>
    </message>
    <message>
        <source>dry run: %1 to set, %2 unchanged, %3 missing%4; nothing was sent</source>
        <translation>试运行：%1 台待设置，%2 台无需更改，%3 台缺失%4；未发送任何请求</translation>
    </message>
    <message>
        <source>Sets a whole site from a plan file, and confirms each change.</source>
        <translation>按计划文件设置整个现场，并确认每项更改。</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>正常</translation>
    </message>
    <message>
        <source>missing</source>
        <translation>缺失</translation>
    </message>
    <message>
        <source>new</source>
        <translation>新增</translation>
    </message>
    <message>
        <source>changed</source>
        <translation>已变更</translation>
    </message>
    <message>
        <source>duplicate</source>
        <translation>重复</translation>
    </message>
    <message>
        <source>%1 of %2 expected converters answered; %3
</source>
        <translation>预期 %2 台转换器中有 %1 台应答；%3
</translation>
    </message>
    <message>
        <source>all ok</source>
        <translation>全部正常</translation>
    </message>
    <message>
        <source>not all ok</source>
        <translation>并非全部正常</translation>
    </message>
    <message>
        <source>check takes a roster or --expect N; see &quot;lbxctl check --help&quot;</source>
        <translation>check 需要设备清单或 --expect N；参见 &quot;lbxctl check --help&quot;</translation>
    </message>
    <message>
        <source>--expect takes a number of converters, not &quot;%1&quot;</source>
        <translation>--expect 需要转换器数量，而不是 &quot;%1&quot;</translation>
    </message>
    <message>
        <source>A roster saved by lbxctl discover --save; or --expect.</source>
        <translation>由 lbxctl discover --save 保存的设备清单；或使用 --expect。</translation>
    </message>
    <message>
        <source>Without a roster: the number of converters that should answer.</source>
        <translation>无设备清单时：应当应答的转换器数量。</translation>
    </message>
    <message>
        <source>table, json (as --json) or openmetrics (the Prometheus text format).</source>
        <translation>table、json（同 --json）或 openmetrics（Prometheus 文本格式）。</translation>
    </message>
    <message>
        <source>Writes the output to FILE, whole or not at all, instead of to standard output.</source>
        <translation>将输出完整写入 FILE（要么全部写入，要么不写），而不是标准输出。</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Compares the converters that answer with a saved roster.</source>
        <translation>将应答的转换器与保存的设备清单进行比较。</translation>
    </message>
    <message>
        <source>no adapter &quot;%1&quot; that is up and has an IPv4 broadcast address</source>
        <translation>没有名为 &quot;%1&quot; 且已启用并具有 IPv4 广播地址的网卡</translation>
    </message>
    <message>
        <source>cannot open a UDP socket on %1: %2</source>
        <translation>无法在 %1 上打开 UDP 套接字：%2</translation>
    </message>
    <message>
        <source>--%1 takes seconds from %2 to %3, not &quot;%4&quot;</source>
        <translation>--%1 的取值为 %2 到 %3 秒，而不是 &quot;%4&quot;</translation>
    </message>
    <message>
        <source>--%1 takes %2 from %3 to %4, not &quot;%5&quot;</source>
        <translation>--%1 的取值为 %3 到 %4 的%2，而不是 &quot;%5&quot;</translation>
    </message>
    <message>
        <source>Shows this help.</source>
        <translation>显示此帮助。</translation>
    </message>
    <message>
        <source>Shows the version.</source>
        <translation>显示版本。</translation>
    </message>
    <message>
        <source>Usage: lbxctl</source>
        <translation>用法：lbxctl</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>选项：</translation>
    </message>
    <message>
        <source>
Options shared with other commands:
</source>
        <translation>
与其他命令共用的选项：
</translation>
    </message>
    <message>
        <source>Seconds to wait for each answer, from 0.01 to 3600 (default %1).</source>
        <translation>等待每个应答的秒数，0.01 到 3600（默认 %1）。</translation>
    </message>
    <message>
        <source>Searches through this adapter only (its broadcast address), instead of 255.255.255.255 and every adapter&apos;s.</source>
        <translation>仅通过此网卡搜索（使用其广播地址），而不是 255.255.255.255 和每个网卡的广播地址。</translation>
    </message>
    <message>
        <source>Asks this unicast address instead of searching by broadcast, for converters behind a router; may be given again.</source>
        <translation>以单播询问此地址而不是广播搜索，用于路由器后面的转换器；可多次指定。</translation>
    </message>
    <message>
        <source>Asks every host address of this range (such as 10.80.0.0/24, at most a /16) by unicast instead of searching by broadcast, paced by --rate; only lbx.info goes out in a sweep. May be given again, and with --host.</source>
        <translation>以单播询问此范围内的每个主机地址（如 10.80.0.0/24，最大 /16），代替广播搜索，速度由 --rate 控制；扫描只发送 lbx.info。可多次指定，也可与 --host 同用。</translation>
    </message>
    <message>
        <source>Requests a sweep sends per second, from 1 to 5000 (default %1).</source>
        <translation>扫描每秒发送的请求数，1 到 5000（默认 %1）。</translation>
    </message>
    <message>
        <source>Prints one JSON object per line.</source>
        <translation>每行打印一个 JSON 对象。</translation>
    </message>
    <message>
        <source>Receive buffer to ask the system for, in KiB (default %1; the system caps it at net.core.rmem_max).</source>
        <translation>向系统申请的接收缓冲区大小，单位 KiB（默认 %1；系统将其限制在 net.core.rmem_max 以内）。</translation>
    </message>
    <message>
        <source>Searches this many more times and merges the answers (default %1).</source>
        <translation>再搜索的次数，并合并所有应答（默认 %1）。</translation>
    </message>
    <message>
        <source>A converter&apos;s IPv4 address (four decimal numbers, no leading zeros) or its uuid; &quot;ip:ADDRESS&quot; and &quot;uuid:TEXT&quot; say which.</source>
        <translation>转换器的 IPv4 地址（四个十进制数字，无前导零）或其 uuid；用 &quot;ip:ADDRESS&quot; 和 &quot;uuid:TEXT&quot; 指明是哪一种。</translation>
    </message>
    <message>
        <source>Takes every converter that answers a search.</source>
        <translation>选取应答搜索的所有转换器。</translation>
    </message>
    <message>
        <source>Waits for each converter to come back after the command, and says what it then reports; only a confirmed outcome is success.</source>
        <translation>命令发出后等待每台转换器恢复，并报告它随后的状态；只有经确认的结果才算成功。</translation>
    </message>
    <message>
        <source>Seconds to wait for the converters to come back (default %1).</source>
        <translation>等待转换器恢复的秒数（默认 %1）。</translation>
    </message>
    <message>
        <source>--format takes %1 or %2, not &quot;%3&quot;</source>
        <translation>--format 的取值为 %1 或 %2，而不是 &quot;%3&quot;</translation>
    </message>
    <message>
        <source>%1; see &quot;%2 --help&quot;</source>
        <translation>%1；参见 &quot;%2 --help&quot;</translation>
    </message>
    <message>
        <source>%1 takes no targets, but was given &quot;%2&quot;; see &quot;%3 --help&quot;</source>
        <translation>%1 不接受目标，但给出了 &quot;%2&quot;；参见 &quot;%3 --help&quot;</translation>
    </message>
    <message>
        <source>a whole number</source>
        <translation>整数</translation>
    </message>
    <message>
        <source>requests a second</source>
        <translation>每秒请求数</translation>
    </message>
    <message>
        <source>--host and --interface do not go together</source>
        <translation>--host 与 --interface 不能同时使用</translation>
    </message>
    <message>
        <source>--sweep and --interface do not go together</source>
        <translation>--sweep 与 --interface 不能同时使用</translation>
    </message>
    <message>
        <source>confirmed %1 after %2</source>
        <translation>已确认 %1，用时 %2</translation>
    </message>
    <message>
        <source>came back with %1: not applied</source>
        <translation>恢复后为 %1：未生效</translation>
    </message>
    <message>
        <source>app %1 -&gt; %2 after %3</source>
        <translation>应用程序 %1 -&gt; %2，用时 %3</translation>
    </message>
    <message>
        <source>no acknowledgement; back after %1 with app %2</source>
        <translation>无确认应答；%1 后恢复，应用程序 %2</translation>
    </message>
    <message>
        <source>restarted; back after %1, app %2</source>
        <translation>已重启；%1 后恢复，应用程序 %2</translation>
    </message>
    <message>
        <source>back after %1, still %2</source>
        <translation>%1 后恢复，仍为 %2</translation>
    </message>
    <message>
        <source>back after %1 at %2 with %3</source>
        <translation>%1 后在 %2 恢复，设置为 %3</translation>
    </message>
    <message>
        <source>no acknowledgement; %1</source>
        <translation>无确认应答；%1</translation>
    </message>
    <message>
        <source>%1, never seen restarting: the reset is not confirmed</source>
        <translation>%1，但从未见其重启：恢复出厂未得到确认</translation>
    </message>
    <message>
        <source>did not come back within %1 s at its address; with an empty uuid it cannot be found elsewhere</source>
        <translation>%1 秒内未在原地址恢复；uuid 为空，无法在别处找到它</translation>
    </message>
    <message>
        <source>did not come back within %1 s</source>
        <translation>%1 秒内未恢复</translation>
    </message>
    <message>
        <source>acknowledged, not back yet (interrupted)</source>
        <translation>已确认收到，尚未恢复（已中断）</translation>
    </message>
    <message>
        <source>UUID</source>
        <translation>UUID</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>APP</source>
        <translation>应用版本</translation>
    </message>
    <message>
        <source>ROM</source>
        <translation>ROM</translation>
    </message>
    <message>
        <source>BAUD</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>PLUGIN</source>
        <translation>协议插件</translation>
    </message>
    <message>
        <source>CAPTION</source>
        <translation>说明</translation>
    </message>
    <message>
        <source>  (uuid also at another address)</source>
        <translation>  （该 uuid 也出现在另一地址）</translation>
    </message>
    <message>
        <source>no converter answered</source>
        <translation>没有转换器应答</translation>
    </message>
    <message>
        <source>the search was interrupted</source>
        <translation>搜索被中断</translation>
    </message>
    <message>
        <source>the system dropped answers</source>
        <translation>系统丢弃了应答</translation>
    </message>
    <message>
        <source>%1: %2 is left as it was</source>
        <translation>%1：%2 保持不变</translation>
    </message>
    <message>
        <source>table, json (as --json) or csv (UTF-8, for a spreadsheet).</source>
        <translation>table、json（同 --json）或 csv（UTF-8，用于电子表格）。</translation>
    </message>
    <message>
        <source>Saves the converters found, when, from which computer and through which adapters, as a roster for lbxctl check.</source>
        <translation>将找到的转换器，连同时间、所用计算机和网卡，保存为设备清单，供 lbxctl check 使用。</translation>
    </message>
    <message>
        <source>the list may be incomplete; search again</source>
        <translation>列表可能不完整；请再次搜索</translation>
    </message>
    <message>
        <source>interrupted: the list holds the converters found so far</source>
        <translation>已中断：列表中是到目前为止找到的转换器</translation>
    </message>
    <message>
        <source>Lists the converters that answer a search.</source>
        <translation>列出应答搜索的转换器。</translation>
    </message>
    <message>
        <source>Adapters:</source>
        <translation>网卡：</translation>
    </message>
    <message>
        <source>  %1  %2/%3  broadcast %4  %5</source>
        <translation>  %1  %2/%3  广播 %4  %5</translation>
    </message>
    <message>
        <source>adapter %1 (%2) is down: no search leaves through it; bring it up (ip link set %1 up) or plug in its cable</source>
        <translation>网卡 %1（%2）未启用：搜索不会从它发出；请启用它（ip link set %1 up）或插上网线</translation>
    </message>
    <message>
        <source>adapter %1 has only a link-local address (%2): it got no address from DHCP; converters with fixed addresses in another subnet will not be reached by unicast</source>
        <translation>网卡 %1 只有链路本地地址（%2）：它没有从 DHCP 获得地址；固定地址在其他子网的转换器将无法以单播访问</translation>
    </message>
    <message>
        <source>Search sent to:</source>
        <translation>搜索发往：</translation>
    </message>
    <message>
        <source>  %1:%2  (a sweep by unicast, %3 requests a second)</source>
        <translation>  %1:%2  （单播扫描，每秒 %3 个请求）</translation>
    </message>
    <message>
        <source>the adapter of the default route</source>
        <translation>默认路由所在的网卡</translation>
    </message>
    <message>
        <source>unicast, through whatever route leads there</source>
        <translation>单播，经由通往该地址的任意路由</translation>
    </message>
    <message>
        <source>Answers:</source>
        <translation>应答：</translation>
    </message>
    <message>
        <source>  through %1 (%2): %3 datagrams</source>
        <translation>  经由 %1（%2）：%3 个数据报</translation>
    </message>
    <message>
        <source>  through no adapter this computer lists: %1</source>
        <translation>  未经由本机所列任何网卡：%1</translation>
    </message>
    <message>
        <source>  converters: %1</source>
        <translation>  转换器：%1</translation>
    </message>
    <message>
        <source>Dropped: %1 not JSON, %2 naming a member twice, %3 with an unknown ack, %4 other replies, %5 by the system for want of buffer</source>
        <translation>丢弃：%1 个非 JSON，%2 个重复命名成员，%3 个 ack 未知，%4 个其他应答，%5 个因缓冲区不足被系统丢弃</translation>
    </message>
    <message>
        <source>%1 datagrams that no converter sends reached this computer: another program answers on the converters&apos; port, or a host sends rubbish</source>
        <translation>有 %1 个不是转换器发出的数据报到达本机：另有程序在转换器端口上应答，或某台主机在发送垃圾数据</translation>
    </message>
    <message>
        <source>%1 at %2 lies in no local subnet: it is reached through a router, which a search by broadcast does not cross; ask it with --host %2, or its neighbours too with --sweep %3</source>
        <translation>%1 位于 %2，不在任何本地子网内：它经由路由器访问，而广播搜索无法穿过路由器；请用 --host %2 询问它，或用 --sweep %3 一并询问其邻近地址</translation>
    </message>
    <message>
        <source>nothing came back at all. The converters answer to the port the search left from (here %1), and a firewall may drop those replies. Allow them, for nftables: nft add rule inet filter input udp sport %2 accept; for ufw: ufw allow proto udp from any port %2</source>
        <translation>完全没有收到任何应答。转换器会应答到搜索发出的端口（此处为 %1），防火墙可能丢弃这些应答。请放行它们，nftables：nft add rule inet filter input udp sport %2 accept；ufw：ufw allow proto udp from any port %2</translation>
    </message>
    <message>
        <source>converters behind a router do not hear a broadcast: ask them by address with --host ADDRESS (lbxctl discover --host 192.168.1.20), or sweep their range with --sweep CIDR (lbxctl discover --sweep 192.168.1.0/24)</source>
        <translation>路由器后面的转换器收不到广播：请用 --host ADDRESS 按地址询问（lbxctl discover --host 192.168.1.20），或用 --sweep CIDR 扫描其地址范围（lbxctl discover --sweep 192.168.1.0/24）</translation>
    </message>
    <message>
        <source>No hints: every adapter that is up answered.</source>
        <translation>没有提示：每个已启用的网卡都有应答。</translation>
    </message>
    <message>
        <source>Hints:</source>
        <translation>提示：</translation>
    </message>
    <message>
        <source>Says why converters are missing, as far as this computer can tell.</source>
        <translation>就本机所能判断的，说明转换器为何缺失。</translation>
    </message>
    <message>
        <source>Usage: lbxctl COMMAND [OPTION...] [TARGET...]

Finds the LBX converters on the network and sets them up.

Commands:
%1
A TARGET is a converter&apos;s IPv4 address, four decimal numbers without leading
zeros (192.168.1.20, not 192.168.001.020), or its uuid (found by a search
first); &quot;ip:ADDRESS&quot; and &quot;uuid:TEXT&quot; say which. Broadcast, multicast and
network addresses are refused: a command reaches only the converters named.
--all takes every converter that answers a search. &quot;lbxctl help COMMAND&quot; (or
&quot;lbxctl COMMAND --help&quot;) lists a command&apos;s options; man lbxctl tells more.

Exit status: 0 when every converter asked has done what was asked (for
discover: when at least one answered and no reply was lost), 1 when some did
not, or said it failed; 2 for bad input, before anything is sent; 74 when the
output (a table, metrics, a roster) could not be written; 130 when interrupted.
</source>
        <translation>用法：lbxctl COMMAND [OPTION...] [TARGET...]

查找网络上的 LBX 转换器并进行设置。

命令：
%1
TARGET 是转换器的 IPv4 地址（四个十进制数字，无前导零：192.168.1.20，
而不是 192.168.001.020），或其 uuid（先经搜索找到）；用 &quot;ip:ADDRESS&quot;
和 &quot;uuid:TEXT&quot; 指明是哪一种。广播、组播和网络地址会被拒绝：命令只送达
所指定的转换器。--all 选取应答搜索的所有转换器。&quot;lbxctl help COMMAND&quot;
（或 &quot;lbxctl COMMAND --help&quot;）列出命令的选项；man lbxctl 有更多说明。

退出状态：0 表示每台被询问的转换器都完成了所要求的操作（对 discover：至少
一台应答且未丢失应答）；1 表示有转换器未完成或报告失败；2 表示输入有误，
未发送任何请求；74 表示输出（表格、指标、设备清单）无法写入；130 表示被中断。
</translation>
    </message>
    <message>
        <source>unknown command &quot;%1&quot;; see lbxctl --help</source>
        <translation>未知命令 &quot;%1&quot;；参见 lbxctl --help</translation>
    </message>
    <message>
        <source>Asks a silent converter this many more times (default %1), once lbx.info shows it up and still there.</source>
        <translation>转换器无应答时再询问的次数（默认 %1），前提是 lbx.info 显示它在线且仍在原处。</translation>
    </message>
    <message>
        <source>Asks a silent converter this many more times (default %1).</source>
        <translation>转换器无应答时再询问的次数（默认 %1）。</translation>
    </message>
    <message>
        <source>Asks the targets to upload their log.</source>
        <translation>要求目标上传其日志。</translation>
    </message>
    <message>
        <source>Asks the targets to look for an application update.</source>
        <translation>要求目标检查应用程序更新。</translation>
    </message>
    <message>
        <source>Confirms the factory reset: the saved configuration and data are lost.</source>
        <translation>确认恢复出厂设置：保存的配置和数据将丢失。</translation>
    </message>
    <message>
        <source>factory returns converters to factory settings and loses their configuration and data: add --yes to go ahead</source>
        <translation>factory 会将转换器恢复为出厂设置并丢失其配置和数据：加上 --yes 以继续</translation>
    </message>
    <message>
        <source>Returns the targets to factory settings; their configuration and data are lost.</source>
        <translation>将目标恢复为出厂设置；其配置和数据将丢失。</translation>
    </message>
    <message>
        <source>1 try</source>
        <translation>1 次尝试</translation>
    </message>
    <message>
        <source>%1 tries</source>
        <translation>%1 次尝试</translation>
    </message>
    <message>
        <source>answered</source>
        <translation>已应答</translation>
    </message>
    <message>
        <source>failed: %1</source>
        <translation>失败：%1</translation>
    </message>
    <message>
        <source>no answer, but it reports app %1: it took the command</source>
        <translation>无应答，但它报告应用程序为 %1：它已执行该命令</translation>
    </message>
    <message>
        <source>no answer, but it reports %1 now: it took the command</source>
        <translation>无应答，但它现在报告 %1：它已执行该命令</translation>
    </message>
    <message>
        <source>no answer, but it reports %1 as asked</source>
        <translation>无应答，但它报告 %1，与所要求的一致</translation>
    </message>
    <message>
        <source>no answer after %1</source>
        <translation>%1 后仍无应答</translation>
    </message>
    <message>
        <source>no answer after %1, nor to lbx.info: it may have taken the command and be restarting, so it was not sent again</source>
        <translation>%1 后仍无应答，对 lbx.info 也无应答：它可能已执行该命令并正在重启，因此未再次发送</translation>
    </message>
    <message>
        <source>no answer after %1; it is up, but nothing it reports tells whether it took the command, so it was not sent again</source>
        <translation>%1 后仍无应答；它在线，但其报告无法说明是否执行了该命令，因此未再次发送</translation>
    </message>
    <message>
        <source>sent, no answer yet (interrupted)</source>
        <translation>已发送，尚无应答（已中断）</translation>
    </message>
    <message>
        <source>not sent (interrupted)</source>
        <translation>未发送（已中断）</translation>
    </message>
    <message>
        <source>the system dropped %1 datagrams for want of receive buffer: %2 (raise net.core.rmem_max, for example sysctl -w net.core.rmem_max=4194304)</source>
        <translation>系统因接收缓冲区不足丢弃了 %1 个数据报：%2（请调高 net.core.rmem_max，例如 sysctl -w net.core.rmem_max=4194304）</translation>
    </message>
    <message>
        <source>cannot write the output: %1</source>
        <translation>无法写入输出：%1</translation>
    </message>
    <message>
        <source>no uuid</source>
        <translation>没有 uuid</translation>
    </message>
    <message>
        <source>unknown baud rate &quot;%1&quot; (%2)</source>
        <translation>未知的波特率 &quot;%1&quot;（%2）</translation>
    </message>
    <message>
        <source>unknown plug-in &quot;%1&quot; (%2, or empty to keep the converter&apos;s own)</source>
        <translation>未知的协议插件 &quot;%1&quot;（%2，或留空以保留转换器自己的）</translation>
    </message>
    <message>
        <source>not a JSON object</source>
        <translation>不是 JSON 对象</translation>
    </message>
    <message>
        <source>the baud rate is neither a number nor text</source>
        <translation>波特率既不是数字也不是文本</translation>
    </message>
    <message>
        <source>the plug-in is not text</source>
        <translation>协议插件不是文本</translation>
    </message>
    <message>
        <source>a quote is not closed</source>
        <translation>引号未闭合</translation>
    </message>
    <message>
        <source>the header must name the columns uuid, baud and plugin</source>
        <translation>表头必须列出 uuid、baud 和 plugin 三列</translation>
    </message>
    <message>
        <source>line %1: the uuid &quot;%2&quot; is also on line %3</source>
        <translation>第 %1 行：uuid &quot;%2&quot; 也出现在第 %3 行</translation>
    </message>
    <message>
        <source>line %1: %2</source>
        <translation>第 %1 行：%2</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>无法读取 %1：%2</translation>
    </message>
    <message>
        <source>%1 is not a roster saved by lbxctl discover --save</source>
        <translation>%1 不是由 lbxctl discover --save 保存的设备清单</translation>
    </message>
    <message>
        <source>%1 lists a converter twice, or one that is not an object: it is no roster lbxctl discover --save wrote</source>
        <translation>%1 中有重复的转换器，或有不是对象的条目：它不是 lbxctl discover --save 写出的设备清单</translation>
    </message>
    <message>
        <source>%1 lists no converter: a check against it would say a dead site is healthy</source>
        <translation>%1 中没有转换器：据此检查会把一个无应答的现场说成正常</translation>
    </message>
    <message>
        <source>uuid also at %1</source>
        <translation>该 uuid 也在 %1</translation>
    </message>
    <message>
        <source>address also answers as %1</source>
        <translation>该地址也以 %1 应答</translation>
    </message>
    <message>
        <source>in the roster, did not answer</source>
        <translation>在设备清单中，未应答</translation>
    </message>
    <message>
        <source>answered, not in the roster</source>
        <translation>已应答，不在设备清单中</translation>
    </message>
    <message>
        <source>no converter answered the search; nothing was sent</source>
        <translation>没有转换器应答搜索；未发送任何请求</translation>
    </message>
    <message>
        <source>interrupted during the search; nothing was sent</source>
        <translation>搜索时被中断；未发送任何请求</translation>
    </message>
    <message>
        <source>set needs --baud</source>
        <translation>set 需要 --baud</translation>
    </message>
    <message>
        <source>unknown baud rate &quot;%1&quot;: a converter takes %2</source>
        <translation>未知的波特率 &quot;%1&quot;：转换器支持 %2</translation>
    </message>
    <message>
        <source>unknown plug-in &quot;%1&quot;: a converter takes %2</source>
        <translation>未知的协议插件 &quot;%1&quot;：转换器支持 %2</translation>
    </message>
    <message>
        <source>Baud rate: %1.</source>
        <translation>波特率：%1。</translation>
    </message>
    <message>
        <source>Sets baud rate and protocol plug-in of the targets.</source>
        <translation>设置目标的波特率和协议插件。</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IPv4 address</source>
        <translation>&quot;%1&quot; 不是 IPv4 地址</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IPv4 address of four decimal numbers without leading zeros</source>
        <translation>&quot;%1&quot; 不是由四个无前导零的十进制数字组成的 IPv4 地址</translation>
    </message>
    <message>
        <source>%1 is not one converter&apos;s address (a broadcast, multicast, network or reserved address reaches many or none)</source>
        <translation>%1 不是单台转换器的地址（广播、组播、网络或保留地址会送达多台或无一）</translation>
    </message>
    <message>
        <source>; for a converter whose uuid this is, write uuid:%1</source>
        <translation>；若这是某台转换器的 uuid，请写成 uuid:%1</translation>
    </message>
    <message>
        <source>&quot;%1&quot; names no converter: a uuid target is not empty</source>
        <translation>&quot;%1&quot; 没有指定转换器：uuid 目标不能为空</translation>
    </message>
    <message>
        <source>%1 needs a target (an address or a uuid) or --all</source>
        <translation>%1 需要一个目标（地址或 uuid）或 --all</translation>
    </message>
    <message>
        <source>no converter with the uuid &quot;%1&quot; answered the search; nothing was sent</source>
        <translation>没有 uuid 为 &quot;%1&quot; 的转换器应答搜索；未发送任何请求</translation>
    </message>
    <message>
        <source>the uuid &quot;%1&quot; answered from %2: name the converter meant by its address (ip:%3); nothing was sent</source>
        <translation>uuid &quot;%1&quot; 从 %2 应答：请用地址指定所要的转换器（ip:%3）；未发送任何请求</translation>
    </message>
    <message>
        <source>adapter %1 (%2) is down: no search leaves through it; enable it in Network Connections (ncpa.cpl) or plug in its cable</source>
        <translation>网卡 %1（%2）未启用：搜索不会从它发出；请在“网络连接”（ncpa.cpl）中启用它或插上网线</translation>
    </message>
    <message>
        <source>nothing came back at all. The converters answer from port %1 to the port the search left from (here %2), and Windows Defender Firewall drops those replies unless the program is allowed: answer &quot;Allow&quot; when Windows asks on the first start, or, as administrator: netsh advfirewall firewall add rule name=&quot;lbxctl replies&quot; dir=in action=allow protocol=UDP program=&quot;%ProgramFiles%\LBXConfig\bin\lbxctl.exe&quot; enable=yes (the installer adds such a rule)</source>
        <translation>完全没有收到任何应答。转换器从端口 %1 应答到搜索发出的端口（此处为 %2），除非程序已获允许，Windows Defender 防火墙会丢弃这些应答：首次启动时 Windows 询问时请选择“允许”，或以管理员身份运行：netsh advfirewall firewall add rule name=&quot;lbxctl replies&quot; dir=in action=allow protocol=UDP program=&quot;%ProgramFiles%\LBXConfig\bin\lbxctl.exe&quot; enable=yes（安装程序会添加这样的规则）</translation>
    </message>
    <message>
        <source>adapter %1</source>
        <translation>网卡 %1</translation>
    </message>
    <message>
        <source>this system does not tell whether it dropped answers, so the search was made twice</source>
        <translation>本系统不报告是否丢弃了应答，因此搜索进行了两次</translation>
    </message>
    <message>
        <source>%1 or %2</source>
        <translation>%1 或 %2</translation>
    </message>
    <message>
        <source>, </source>
        <translation>、</translation>
    </message>
    <message>
        <source>a VPN</source>
        <translation>VPN</translation>
    </message>
    <message>
        <source>virtual</source>
        <translation>虚拟</translation>
    </message>
    <message>
        <source>link-local</source>
        <translation>链路本地</translation>
    </message>
    <message>
        <source>up</source>
        <translation>已启用</translation>
    </message>
    <message>
        <source>down</source>
        <translation>未启用</translation>
    </message>
    <message>
        <source>loopback</source>
        <translation>回环</translation>
    </message>
    <message>
        <source>unchanged</source>
        <translation>未变</translation>
    </message>
    <message>
        <source>%1 back, %2 pending, %3 s left</source>
        <translation>已恢复 %1 台，待恢复 %2 台，剩余 %3 秒</translation>
    </message>
    <message>
        <source>did not come back within %1 s at its address; it never answered before, so its uuid is unknown and it cannot be found elsewhere</source>
        <translation>%1 秒内未在原地址恢复；它此前从未应答，uuid 不明，无法在别处找到它</translation>
    </message>
    <message>
        <source>  (answered from an address not asked; asked: %1)</source>
        <translation>  （从未询问的地址应答；询问的是：%1）</translation>
    </message>
    <message>
        <source>ambiguous: its address answers as %1; not sent</source>
        <translation>不明确：其地址以 %1 应答；未发送</translation>
    </message>
    <message>
        <source>not found: its address did not answer lbx.info just before; not sent</source>
        <translation>未找到：发送前询问 lbx.info，其地址未应答；未发送</translation>
    </message>
    <message>
        <source>not sent: it answered from an address the search did not ask; to reach it, name it by its address</source>
        <translation>未发送：它从搜索未询问的地址应答；如要发给它，请用其地址指定</translation>
    </message>
    <message>
        <source>sweep: %1 of %2 asked, %3 answered, %4 s left</source>
        <translation>扫描：已询问 %1/%2 个地址，%3 个应答，剩余 %4 秒</translation>
    </message>
    <message>
        <source>the uuid &quot;%1&quot; answered only from %2, which the search did not ask: name the converter by its address (ip:%3) to reach it; nothing was sent</source>
        <translation>uuid &quot;%1&quot; 只从 %2 应答，而搜索未询问该地址：如要发给它，请用其地址（ip:%3）指定；未发送任何内容</translation>
    </message>
    <message>
        <source>; the roster holds no plug-in, so that is not put back</source>
        <translation>；设备清单中没有协议插件，因此不会恢复协议插件</translation>
    </message>
    <message>
        <source>not put back: converter %1 of the roster: %2</source>
        <translation>未恢复：设备清单中的第 %1 台转换器：%2</translation>
    </message>
    <message>
        <source>--backup names no file; nothing was sent</source>
        <translation>--backup 没有指定文件；未发送任何请求</translation>
    </message>
    <message>
        <source>--backup %1 is the plan itself, which the backup would replace; nothing was sent</source>
        <translation>--backup %1 就是计划文件本身，备份会覆盖它；未发送任何请求</translation>
    </message>
    <message>
        <source>--backup %1 exists, and may hold the undo of an earlier run: apply it, move it away or name another file; nothing was sent</source>
        <translation>--backup %1 已存在，可能保存着之前一次运行的撤销信息：请应用它、移走它或指定另一个文件；未发送任何请求</translation>
    </message>
    <message>
        <source>the undo of this run is in %1: lbxctl apply %1 puts the %2 converters it sets back</source>
        <translation>本次运行的撤销信息保存在 %1：lbxctl apply %1 可将本次设置的 %2 台转换器恢复原状</translation>
    </message>
    <message>
        <source>no backup was written to %1: %2</source>
        <translation>未向 %1 写入备份：%2</translation>
    </message>
    <message>
        <source>%1; the roster holds no plug-in, so that was not put back</source>
        <translation>%1；设备清单中没有协议插件，因此协议插件未恢复</translation>
    </message>
    <message>
        <source>Saves the roster of the converters to be set, as they are, before the first is set; applied as a plan, it puts them back. The file must not exist yet, so that the undo of an earlier run is never lost.</source>
        <translation>在设置第一台之前，按原样保存将被设置的转换器清单；将其作为计划应用即可恢复原设置。该文件不得已存在，以免丢失之前运行的撤销信息。</translation>
    </message>
    <message>
        <source>nothing was to be set</source>
        <translation>没有需要设置的转换器</translation>
    </message>
    <message>
        <source>a dry run sets nothing</source>
        <translation>试运行不做任何设置</translation>
    </message>
    <message>
        <source>--output names no file</source>
        <translation>--output 没有指定文件</translation>
    </message>
    <message>
        <source>the uuid is neither text nor a number</source>
        <translation>uuid 既不是文本也不是数字</translation>
    </message>
    <message>
        <source>it reported no uuid, so it cannot be told apart from others</source>
        <translation>它没有报告 uuid，因此无法与其他转换器区分</translation>
    </message>
    <message>
        <source>its uuid is also that of converter %1, so they cannot be told apart</source>
        <translation>它的 uuid 与第 %1 台转换器相同，因此无法区分</translation>
    </message>
    <message>
        <source>it is no converter&apos;s record</source>
        <translation>它不是转换器的记录</translation>
    </message>
    <message>
        <source>it reported no baud rate that can be put back</source>
        <translation>它没有报告可恢复的波特率</translation>
    </message>
    <message>
        <source>%1 of %2 expected converters answered; %3</source>
        <translation>预期 %2 台转换器中有 %1 台应答；%3</translation>
    </message>
    <message>
        <source>Says which converters the command would go to, and sends it to none: only lbx.info goes out.</source>
        <translation>说明命令将发往哪些转换器，但不发给任何一台：只发出 lbx.info。</translation>
    </message>
    <message>
        <source>Updates in waves, each once every converter of the last one confirmed the new version (as --wait does): this many first (default 1), and stops at the first wave in which one does not.</source>
        <translation>分批升级，每一批在上一批的每台转换器都确认了新版本之后（同 --wait）才开始：第一批为这么多台（默认 1），某一批中有转换器未确认即停止。</translation>
    </message>
    <message>
        <source>Updates in waves of this many after the first (default: the rest at once); with --canary, or alone.</source>
        <translation>第一批之后每批升级这么多台（默认：其余一次完成）；可与 --canary 一起使用，也可单独使用。</translation>
    </message>
    <message>
        <source>held: the staged rollout stopped at a wave before this one; not sent</source>
        <translation>暂缓：分批升级在此前的某一批停止；未发送</translation>
    </message>
    <message>
        <source>would be sent (dry run: nothing was sent)</source>
        <translation>将会发送（试运行：未发送任何内容）</translation>
    </message>
    <message>
        <source>%1 of %2 waves sent: %3 converters confirmed, %4 not, %5 held</source>
        <translation>已发送 %2 批中的 %1 批：%3 台转换器已确认，%4 台未确认，%5 台暂缓</translation>
    </message>
    <message>
        <source>no converter answered through adapter %1 (%2/%3): none is on that network, they are off, or the network filters broadcasts</source>
        <translation>没有转换器通过网卡 %1（%2/%3）应答：该网络上没有转换器、转换器已关闭，或网络过滤了广播</translation>
    </message>
    <message>
        <source>; a sweep asks each address of that network: --sweep %1</source>
        <translation>；扫描会逐个询问该网络的每个地址：--sweep %1</translation>
    </message>
    <message>
        <source>; a sweep asks each address, of the /24 around this computer&apos;s for a start: --sweep %1</source>
        <translation>；扫描会逐个询问每个地址，可先从本机地址所在的 /24 开始：--sweep %1</translation>
    </message>
    <message>
        <source>Protocol plug-in: %1 (the empty name stands for any other); left out, the converter keeps its own.</source>
        <translation>协议插件：%1（空名称代表其他任何插件）；省略时转换器保留自己的。</translation>
    </message>
    <message>
        <source>%1 takes one %2, but was given %3; see &quot;%4 --help&quot;</source>
        <translation>%1 只接受一个 %2，但给出了 %3 个；参见 &quot;%4 --help&quot;</translation>
    </message>
    <message>
        <source>no answer, but it reports that it took the command</source>
        <translation>没有应答，但它报告的情况表明它已接受该命令</translation>
    </message>
    <message>
        <source>Receive buffer: %1 KiB asked, %2 KiB granted; a sweep leaves up to %3 questions unanswered at once</source>
        <translation>接收缓冲区：请求 %1 KiB，系统给予 %2 KiB；扫描时最多同时有 %3 个未应答的询问</translation>
    </message>
    <message>
        <source>not seen back within %1 s; the system dropped answers to the search for it elsewhere, so it may be back unseen</source>
        <translation>%1 秒内未见恢复；系统丢弃了在别处搜索它的应答，它可能已恢复而未被看到</translation>
    </message>
</context>
</TS>
