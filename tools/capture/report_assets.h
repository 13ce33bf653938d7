// The report page's style sheet and script, written into every page (the
// page fetches nothing). The script reads the data element ("wall0": the
// first header's wall clock in ms, 0 when none; "x": one array per exchange
// the page keeps, see ExchangeJson), pages the table of exchanges and draws
// a timeline when the address names one (#xN), at the top of the page.
#ifndef VOLMIRAX_REPORT_ASSETS_H
#define VOLMIRAX_REPORT_ASSETS_H

namespace {

const char kStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#1b1f24;background:#fff}
h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;margin:28px 0 8px;border-bottom:1px solid #d0d7de}
.meta{color:#57606a}table{border-collapse:collapse;margin:6px 0}td,th{border:1px solid #d0d7de;padding:3px 8px;text-align:right;white-space:nowrap}
th{background:#f6f8fa}td.l,th.l{text-align:left}.failed{color:#b3261e}.near{color:#9a6700}
.scroll{max-width:100%;overflow-x:auto}.bound{background:#fff8c5;padding:4px 8px;border:1px solid #d4a72c}
ol#attention{max-height:320px;overflow:auto;border:1px solid #d0d7de;padding:6px 6px 6px 48px}
dl#meanings{display:grid;grid-template-columns:max-content auto;gap:2px 12px;font-size:13px}dl#meanings dt{font-weight:600}dl#meanings dd{margin:0}
svg .bar{fill:#4f81bd}svg .bar.none{fill:#8c959f}svg .bar.fail{fill:#b3261e}svg .axis{stroke:#57606a}svg .grid{stroke:#d0d7de;stroke-width:.5}
svg .tick{font-size:10px;fill:#57606a}svg .count{font-size:9px;fill:#1b1f24}svg .t{font-size:12px;font-weight:600}
svg .limit{stroke:#b3261e;stroke-width:1.5;stroke-dasharray:5 3;fill:#b3261e;font-size:10px}svg text.limit{stroke:none}
svg .pct{stroke:#1b1f24;stroke-width:1.5;stroke-dasharray:2 2}svg .pctl{font-size:10px;fill:#1b1f24;font-weight:600}
svg .mean{fill:none;stroke:#9a6700;stroke-width:1.5}svg .max{fill:none;stroke:#9a6700;stroke-width:1;stroke-dasharray:4 3}
.code{display:flex;flex-wrap:wrap;gap:12px;align-items:flex-start;margin-bottom:12px}
#pager button{margin:0 4px}#timeline-view svg,#focus svg{border:1px solid #d0d7de;background:#fcfcfd;max-width:100%;height:auto}
#focus:not(:empty){border:2px solid #4f81bd;padding:8px;margin:8px 0}
.seq-host{fill:#4f81bd}.seq-dev{fill:#5a9e5a}.seq-bad{fill:#b3261e}.lane{font-size:12px;fill:#57606a}
.lbl{font-size:10px;fill:#1b1f24}.lbl.bad{fill:#b3261e;font-weight:600}.gap{font-size:10px;fill:#57606a;text-anchor:middle}
.brk{stroke:#57606a;fill:none}
@media print{body{margin:0;font-size:11px}#pager,#only,button{display:none}.scroll{overflow:visible}
 ol#attention{max-height:none;overflow:visible}section,svg,table,.code{break-inside:avoid}h2{break-after:avoid}
 a{color:inherit;text-decoration:none}svg{max-width:100%;height:auto}}
)";

const char kScript[] = R"(
const D=JSON.parse(document.getElementById('data').textContent);
const K=['command','acknowledgement','not an acknowledgement','request','reply','negative reply','bad reply','abort','abort echo','wrong echo','noise','unasked'];
const BAD=new Set([2,5,6,9,10,11]);
const PAGE=100;let page=0,only=false;
function when(ms){if(!D.wall0)return (ms/1000).toFixed(3)+' s';const t=new Date(D.wall0+ms).toISOString();return t.slice(0,10)+' '+t.slice(11,23);}
function rows(){return only?D.x.filter(e=>e[4]||e[5]):D.x;}
function cell(t,c){const td=document.createElement('td');td.textContent=t;if(c)td.className=c;return td;}
function renderTable(){const list=rows(),tb=document.querySelector('#all tbody');tb.textContent='';
 const n=Math.max(1,Math.ceil(list.length/PAGE));page=Math.min(page,n-1);
 for(const e of list.slice(page*PAGE,page*PAGE+PAGE)){const tr=document.createElement('tr');tr.id='row'+e[12];
  if(e[4])tr.className='failed';else if(e[5])tr.className='near';
  const r=cell(e[3],'l');r.title=e[15];
  tr.append(cell('#'+e[12]),cell(when(e[0]),'l'),cell(e[11],'l'),cell(e[1]+' '+e[2],'l'),r,
   cell(e[9]<0?'':e[9].toFixed(1)),cell(e[10]<0?'':e[10].toFixed(1)));
  const td=document.createElement('td'),a=document.createElement('a');a.href='#x'+e[12];a.textContent='timeline';td.append(a);tr.append(td);tb.append(tr);}
 document.getElementById('page').textContent='page '+(page+1)+' of '+n+' ('+list.length+' exchanges)';}
function svgEl(t,a,txt){const e=document.createElementNS('http://www.w3.org/2000/svg',t);for(const k in a)e.setAttribute(k,a[k]);if(txt!==undefined)e.textContent=txt;return e;}
// Labels in rows: each takes the first row where it overlaps no other, its
// width measured as drawn.
function placer(){const rows=[];return (x0,w)=>{for(let r=0;;r++){if(!rows[r]||rows[r]<x0){rows[r]=x0+w+6;return r;}}};}
function label(svg,put,x,y,step,cls,text,anchor){const t=svgEl('text',{x:x,y:y,class:cls,'text-anchor':anchor||'start'},text);svg.append(t);
 const w=t.getComputedTextLength?t.getComputedTextLength()||text.length*6:text.length*6,x0=anchor==='end'?x-w:x,row=put(x0,w);
 t.setAttribute('y',y+row*step);return t;}
function drawTimeline(i,view){const e=D.x[i];if(!e)return false;view.textContent='';
 const seqs=e[13],limits=[];let act=0.5;
 for(const s of seqs)act=Math.max(act,s[2]);
 for(const s of seqs){const L={0:[e[6],'acknowledgement time-out'],3:[e[7],'reply time-out'],7:[e[8],'abort echo time-out']}[s[3]];
  if(L&&L[0]>0&&s[0])limits.push([s[2]+L[0],L[1]+' '+L[0]+' ms',s[3]]);}
 // the axis is zoomed to the activity; a time-out far past it is drawn
 // past a break at the right edge
 const end=act*1.08,W=980,X0=70,XR=W-150,sc=(XR-X0)/end,x=t=>t<=end?X0+t*sc:XR+60,yHost=120,yDev=200,yAxis=225;
 const h=document.createElement('h3');h.textContent='#'+e[12]+' at '+when(e[0])+': '+e[11]+' '+e[1]+' '+e[2]+': '+e[3]+' ('+e[15]+')';
 const svg=svgEl('svg',{viewBox:'0 0 '+W+' 300',width:W,height:300,role:'img','aria-label':'timeline of exchange #'+e[12]});
 const ul=document.createElement('ul');view.append(h,svg,ul);
 svg.append(svgEl('text',{x:6,y:yHost+13,class:'lane'},'host'),svgEl('text',{x:6,y:yDev+13,class:'lane'},'device'));
 const wrong=/ECHO/.test(e[3]),put={1:placer(),0:placer()};
 seqs.forEach((s,j)=>{const y=s[0]?yHost:yDev,lim=limits.find(l=>(l[2]===0&&(s[3]===1||s[3]===2))||(l[2]===3&&s[3]>=4&&s[3]<=6)||(l[2]===7&&(s[3]===8||s[3]===9)));
  const late=!s[0]&&lim&&s[2]>lim[0],bad=late||BAD.has(s[3])||(wrong&&s[3]===4)||(e[4]&&j===seqs.length-1&&!s[0]&&s[3]!==8);
  svg.append(svgEl('rect',{x:x(s[1]),y:y,width:Math.max(2,(Math.min(s[2],end)-s[1])*sc),height:18,class:bad?'seq-bad':(s[0]?'seq-host':'seq-dev')}));
  label(svg,put[s[0]],x(s[1]),y-5,-13,bad?'lbl bad':'lbl',((s[4]||K[s[3]])+(late?' (late)':'')).slice(0,70));
  if(j>0){const g=s[1]-seqs[j-1][2];if(g>0.05&&(x(s[1])-x(seqs[j-1][2]))>40){const m=(x(seqs[j-1][2])+x(s[1]))/2;svg.append(svgEl('text',{x:m,y:yDev-10,class:'gap'},g.toFixed(1)+' ms'));}}});
 const putLimit=placer();let broken=false;
 for(const l of limits){const lx=x(l[0]);if(l[0]>end&&!broken){broken=true;svg.append(svgEl('path',{d:'M'+(XR+20)+' '+(yAxis+8)+' l6 -8 M'+(XR+28)+' '+(yAxis+8)+' l6 -8',class:'brk'}));}
  svg.append(svgEl('line',{x1:lx,y1:40,x2:lx,y2:yAxis,class:'limit'}));label(svg,putLimit,lx-3,258,13,'limit',l[1],'end');}
 for(let k=0;k<=4;k++){const t=end*k/4;svg.append(svgEl('line',{x1:x(t),y1:yAxis,x2:x(t),y2:yAxis+5,class:'brk'}),svgEl('text',{x:x(t),y:yAxis+18,class:'lane','text-anchor':k?'middle':'start'},t.toFixed(t<10?1:0)+' ms'));}
 for(const s of seqs){const li=document.createElement('li');
  li.textContent=(s[1]).toFixed(1)+' ms '+(s[0]?'host>dev ':'dev>host ')+(s[5]||'')+'  '+(s[4]||K[s[3]]);ul.append(li);}
 return true;}
// An address that names an exchange shows it at the top of the page, so a
// link (or a picture of the page at that address) shows it at once.
function fromHash(){const m=/^#x(\d+)$/.exec(location.hash),focus=document.getElementById('focus');
 if(!m){focus.textContent='';return;}
 if(!drawTimeline(D.index[m[1]],focus))focus.textContent='Exchange #'+m[1]+' is not among those the page keeps.';
 window.scrollTo(0,0);}
document.getElementById('prev').onclick=()=>{if(page>0){page--;renderTable();}};
document.getElementById('next').onclick=()=>{page++;renderTable();};
document.getElementById('only').onchange=ev=>{only=ev.target.checked;page=0;renderTable();};
D.index={};D.x.forEach((e,i)=>D.index[e[12]]=i);
window.addEventListener('hashchange',fromHash);renderTable();fromHash();
)";

}  // namespace

#endif
