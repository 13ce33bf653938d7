// The report page's style sheet and script, written into every page (the
// page fetches nothing). The script reads the data element ("x": one array
// per exchange, see ReportPage), pages the table of exchanges and draws a
// timeline when the address names one (#xN).
#ifndef VOLMIRAX_REPORT_ASSETS_H
#define VOLMIRAX_REPORT_ASSETS_H

namespace {

const char kStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#1b1f24;background:#fff}
h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;margin:28px 0 8px;border-bottom:1px solid #d0d7de}
.meta{color:#57606a}table{border-collapse:collapse;margin:6px 0}td,th{border:1px solid #d0d7de;padding:3px 8px;text-align:right}
th{background:#f6f8fa}td.l,th.l{text-align:left}.failed{color:#b3261e}.near{color:#9a6700}
ol#attention{max-height:320px;overflow:auto;border:1px solid #d0d7de;padding:6px 6px 6px 48px}
.hist .bar{fill:#4f81bd}.hist .axis{stroke:#57606a}.hist .tick{font-size:10px;fill:#57606a;text-anchor:middle}
.hist .t{font-size:12px;font-weight:600}.limit{stroke:#b3261e;stroke-dasharray:4 3;fill:#b3261e;font-size:10px}
text.limit{stroke:none}.pct{stroke:#1b1f24;stroke-width:1;opacity:.35}.code{display:flex;flex-wrap:wrap;gap:12px;align-items:flex-start;margin-bottom:12px}
#pager button{margin:0 4px}#timeline-view svg{border:1px solid #d0d7de;background:#fcfcfd}
.seq-host{fill:#4f81bd}.seq-dev{fill:#5a9e5a}.seq-late{fill:#b3261e}.lane{font-size:12px;fill:#57606a}
.lbl{font-size:10px;fill:#1b1f24}.gap{font-size:10px;fill:#57606a;text-anchor:middle}
)";

const char kScript[] = R"(
const D=JSON.parse(document.getElementById('data').textContent);
const K=['command','acknowledgement','not an acknowledgement','request','reply','negative reply','bad reply','abort','abort echo','wrong echo','noise','unasked'];
const PAGE=100;let page=0,only=false;
function rows(){return only?D.x.filter(e=>e[4]||e[5]):D.x;}
function cell(t,c){const td=document.createElement('td');td.textContent=t;if(c)td.className=c;return td;}
function renderTable(){const list=rows(),tb=document.querySelector('#all tbody');tb.textContent='';
 const n=Math.max(1,Math.ceil(list.length/PAGE));page=Math.min(page,n-1);
 for(const e of list.slice(page*PAGE,page*PAGE+PAGE)){const tr=document.createElement('tr');
  if(e[4])tr.className='failed';else if(e[5])tr.className='near';
  tr.append(cell('#'+e[12]),cell((e[0]/1000).toFixed(3)),cell(e[11],'l'),cell(e[1]+' '+e[2],'l'),cell(e[3],'l'),
   cell(e[9]<0?'':e[9].toFixed(1)),cell(e[10]<0?'':e[10].toFixed(1)));
  const td=document.createElement('td'),a=document.createElement('a');a.href='#x'+e[12];a.textContent='timeline';td.append(a);tr.append(td);tb.append(tr);}
 document.getElementById('page').textContent='page '+(page+1)+' of '+n+' ('+list.length+' exchanges)';}
function svgEl(t,a,txt){const e=document.createElementNS('http://www.w3.org/2000/svg',t);for(const k in a)e.setAttribute(k,a[k]);if(txt!==undefined)e.textContent=txt;return e;}
function drawTimeline(i){const e=D.x[i],view=document.getElementById('timeline-view');if(!e)return;view.textContent='';
 const seqs=e[13],limits=[];let end=1;
 for(const s of seqs){end=Math.max(end,s[2]);const L={0:[e[6],'acknowledgement time-out'],3:[e[7],'reply time-out'],7:[e[8],'abort echo time-out']}[s[3]];
  if(L&&L[0]>0&&s[0])limits.push([s[2]+L[0],L[1]+' '+L[0]+' ms',s[3]]);}
 for(const l of limits)end=Math.max(end,l[0]);end*=1.06;
 const W=960,X0=70,sc=(W-X0-20)/end,x=t=>X0+t*sc,svg=svgEl('svg',{width:W,height:190,role:'img'});
 svg.append(svgEl('text',{x:6,y:64,class:'lane'},'host'),svgEl('text',{x:6,y:134,class:'lane'},'device'));
 const limitFor=k=>{let r=null;for(const l of limits)if((k===1||k===2)&&l[2]===0)r=l[0];else if(k>=4&&k<=6&&l[2]===3)r=l[0];else if((k===8||k===9)&&l[2]===7)r=l[0];return r;};
 seqs.forEach((s,j)=>{const y=s[0]?50:120,lim=limitFor(s[3]),late=!s[0]&&lim!==null&&s[2]>lim;
  svg.append(svgEl('rect',{x:x(s[1]),y:y,width:Math.max(2,(s[2]-s[1])*sc),height:18,class:late?'seq-late':(s[0]?'seq-host':'seq-dev')}));
  svg.append(svgEl('text',{x:x(s[1]),y:y-4,class:'lbl'},(s[4]||K[s[3]])+(late?' (late)':'')));
  if(j>0){const g=s[1]-seqs[j-1][2];if(g>0.05){const m=(x(seqs[j-1][2])+x(s[1]))/2;svg.append(svgEl('text',{x:m,y:100,class:'gap'},g.toFixed(1)+' ms'));}}});
 for(const l of limits){svg.append(svgEl('line',{x1:x(l[0]),y1:20,x2:x(l[0]),y2:150,class:'limit'}));svg.append(svgEl('text',{x:x(l[0])-3,y:168,class:'limit','text-anchor':'end'},l[1]));}
 svg.append(svgEl('text',{x:X0,y:186,class:'lane'},'0 ms'),svgEl('text',{x:W-20,y:186,class:'lane','text-anchor':'end'},end.toFixed(1)+' ms'));
 const h=document.createElement('h3');h.textContent='#'+e[12]+' at '+(e[0]/1000).toFixed(3)+' s: '+e[11]+' '+e[1]+' '+e[2]+': '+e[3];
 const ul=document.createElement('ul');for(const s of seqs){const li=document.createElement('li');
  li.textContent=(s[1]).toFixed(1)+' ms '+(s[0]?'host>dev ':'dev>host ')+(s[5]||'')+'  '+(s[4]||K[s[3]]);ul.append(li);}
 view.append(h,svg,ul);document.getElementById('timeline').scrollIntoView();}
function fromHash(){const m=/^#x(\d+)$/.exec(location.hash);if(m)drawTimeline(D.index[m[1]]);}
document.getElementById('prev').onclick=()=>{if(page>0){page--;renderTable();}};
document.getElementById('next').onclick=()=>{page++;renderTable();};
document.getElementById('only').onchange=ev=>{only=ev.target.checked;page=0;renderTable();};
D.index={};D.x.forEach((e,i)=>D.index[e[12]]=i);
window.addEventListener('hashchange',fromHash);renderTable();fromHash();
)";

}  // namespace

#endif
