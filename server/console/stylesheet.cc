// The console's one stylesheet: plain, readable, and light on the eye.
#include "server/console/layout.h"

namespace quarrin {

std::string_view ConsoleStylesheet() {
  return R"css(
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, "Segoe UI", "Liberation Sans", sans-serif;
       color: #1c2430; background: #f5f7fa; }
header { display: flex; align-items: center; gap: 1.5em; padding: .5em 1.2em;
         background: #1f3a5a; color: #fff; }
header a { color: #dbe6f3; text-decoration: none; }
header a.brand { font-weight: 700; color: #fff; font-size: 1.1em; }
header nav { display: flex; gap: 1em; flex: 1; }
header nav a.here { color: #fff; border-bottom: 2px solid #8fc1ff; }
header .who { display: flex; align-items: center; gap: .5em; }
header .role { font-size: .8em; padding: .1em .4em; border-radius: 3px; background: #33597f; }
header form.logout { display: inline; margin: 0; }
header form.logout button { background: transparent; color: #dbe6f3; border: 1px solid #5b7fa6; }
main { padding: 1em 1.5em 3em; max-width: 1400px; }
main.narrow { max-width: 26em; margin: 4em auto; background: #fff; border-radius: 6px;
              box-shadow: 0 1px 4px rgba(0,0,0,.12); padding: 1.5em 2em; }
h1 { font-size: 1.4em; margin: .2em 0 .6em; }
h2 { font-size: 1.1em; margin: 1.4em 0 .5em; }
a { color: #1f5fa8; }
table { border-collapse: collapse; background: #fff; width: 100%;
        box-shadow: 0 1px 2px rgba(0,0,0,.08); }
th, td { padding: .3em .6em; border-bottom: 1px solid #e3e8ef; text-align: left;
         vertical-align: top; }
th { background: #eef2f7; font-weight: 600; white-space: nowrap; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
tr:hover td { background: #f8fbff; }
form { margin: .5em 0; }
form.filters { display: flex; flex-wrap: wrap; gap: .6em; align-items: end; }
form.login label, form.stack label { display: block; margin: .6em 0; }
form.login input { display: block; width: 100%; }
label { font-size: .9em; color: #445; }
input, select, button { font: inherit; padding: .25em .5em; border: 1px solid #b8c2cf;
                        border-radius: 4px; background: #fff; }
button { background: #1f5fa8; color: #fff; border-color: #1f5fa8; cursor: pointer; }
.error { color: #a11; background: #fdecec; padding: .5em .8em; border-radius: 4px; }
.notice { background: #eaf5ea; padding: .5em .8em; border-radius: 4px; }
.counts { display: flex; flex-wrap: wrap; gap: 1em; margin: .5em 0 1em; }
.count { background: #fff; padding: .6em 1em; border-radius: 6px; min-width: 10em;
         box-shadow: 0 1px 2px rgba(0,0,0,.08); }
.count b { display: block; font-size: 1.6em; }
.count.warn b { color: #b35a00; }
.pager { margin: .8em 0; display: flex; gap: 1em; }
.muted { color: #778; }
.halted { background: #fff4e0; border-left: 4px solid #d98a00; padding: .5em .8em; }
svg.bars text { font-size: 12px; fill: #1c2430; }
svg.bars rect { fill: #4a86c8; }
dl.details { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em;
             background: #fff; padding: .8em 1em; }
dl.details dt { color: #556; }
dl.details dd { margin: 0; }
section { margin-bottom: 1.5em; }
.charts { display: grid; grid-template-columns: repeat(auto-fill, minmax(500px, 1fr)); gap: 1em; }
.charts figure { margin: 0; background: #fff; padding: .4em; box-shadow: 0 1px 2px rgba(0,0,0,.08); }
.charts img { width: 100%; height: auto; display: block; }
.charts figcaption { font-size: .85em; color: #556; padding-top: .3em; }
.actions { display: flex; flex-wrap: wrap; gap: .4em 1.5em; align-items: end; }
.actions form { display: flex; gap: .4em; align-items: end; }
td.ok { color: #1d6b2a; }
td.failed { color: #a11; }
p.ok { color: #1d6b2a; background: #eaf5ea; padding: .5em .8em; border-radius: 4px; }
)css";
}

}  // namespace quarrin
