// The live dashboard: live values from /api/stream (one schema 1 reading per
// event) as numbers and plots, and each ECU's report from /api/report.
// Vehicle text is always set as text, never as HTML.
'use strict';

(function () {
  const state = { units: 'metric', paused: false, source: null, settings: { allowClear: false, history: 300 } };
  // Per unit one plot: its sensors' keys, its rows [time, value, ...], its graph.
  let plots = new Map();

  const $ = (id) => document.getElementById(id);
  // Curves that stand out on the dark background.
  const PALETTE = ['#58a6ff', '#f0883e', '#3fb950', '#f778ba', '#e3b341', '#a5d6ff', '#ff7b72', '#d2a8ff',
    '#7ee787', '#ffa657', '#79c0ff', '#ffdf5d'];

  function el(tag, className, text) {
    const element = document.createElement(tag);
    if (className) element.className = className;
    if (text !== undefined && text !== null) element.textContent = String(text);
    return element;
  }

  function setStatus(text, kind) {
    const status = $('status');
    status.textContent = text;
    status.className = 'status ' + (kind || '');
  }

  window.addEventListener('error', (event) => setStatus('page error: ' + event.message, 'bad'));

  async function getJson(url, options) {
    const response = await fetch(url, options);
    const body = await response.json();
    if (!response.ok) throw new Error(body.error || response.statusText);
    return body;
  }

  // "62 °C" shows as a large 62 with its unit beside.
  function splitUnit(sensor) {
    const text = sensor.text === null ? '—' : sensor.text;
    const suffix = ' ' + sensor.unit;
    if (sensor.unit && text.endsWith(suffix)) return [text.slice(0, -suffix.length), sensor.unit];
    return [text, ''];
  }

  // ---- live data ----

  function resetLive() {
    ['tiles', 'plots', 'states'].forEach((id) => $(id).replaceChildren());
    plots = new Map();
  }

  // Numbers go to the large tiles; states ("Closed loop") to the small ones.
  function tile(key, sensor) {
    let box = document.querySelector(`.tile[data-key="${key}"]`);
    if (!box) {
      const numeric = typeof sensor.value === 'number' || sensor.unit !== '';
      box = el('div', numeric ? 'tile' : 'tile state');
      box.dataset.key = key;
      box.append(el('div', 'name', sensor.name), el('div'));
      box.title = sensor.name;
      $(numeric ? 'tiles' : 'states').append(box);
    }
    return box;
  }

  function showTile(key, sensor) {
    const box = tile(key, sensor);
    const [number, unit] = splitUnit(sensor);
    const line = el('div');
    line.append(el('span', 'value', number), el('span', 'unit', unit));
    box.lastChild.replaceWith(line);
    box.classList.toggle('missing', sensor.text === null);
  }

  function plotFor(unit) {
    let plot = plots.get(unit);
    if (!plot) {
      const box = el('div', 'plot');
      const chart = el('div', 'chart');
      const legend = el('div', 'legend');
      box.append(el('h3', 'unit', unit || 'no unit'), chart, legend);
      $('plots').append(box);
      plot = { keys: [], names: [], rows: [], chart, legend, graph: null };
      plots.set(unit, plot);
    }
    return plot;
  }

  function addReading(reading) {
    const time = new Date(reading.time);
    const points = new Map();  // unit -> {key: value}
    reading.parameters.forEach((parameter) => {
      parameter.sensors.forEach((sensor, index) => {
        const key = parameter.pid + '.' + index;
        showTile(key, sensor);
        if (typeof sensor.value !== 'number') return;
        const plot = plotFor(sensor.unit);
        if (!plot.keys.includes(key)) {
          plot.keys.push(key);
          plot.names.push(sensor.name);
        }
        if (!points.has(sensor.unit)) points.set(sensor.unit, {});
        points.get(sensor.unit)[key] = sensor.value;
      });
    });
    plots.forEach((plot, unit) => {
      const values = points.get(unit) || {};
      plot.rows.push([time, ...plot.keys.map((key) => (key in values ? values[key] : null))]);
      if (plot.rows.length > state.settings.history) plot.rows.shift();
    });
    if (!state.paused) draw();
  }

  function draw() {
    plots.forEach((plot) => {
      // A sensor that appeared later has no cells in the earlier rows.
      const width = plot.keys.length + 1;
      const rows = plot.rows.map((row) => row.concat(Array(width - row.length).fill(null)));
      const options = { file: rows, labels: ['time', ...plot.names] };
      if (plot.graph) {
        plot.graph.updateOptions(options);
      } else {
        plot.graph = new Dygraph(plot.chart, rows, Object.assign(options, {
          legend: 'always', labelsDiv: plot.legend, connectSeparatedPoints: true,
          colors: PALETTE, axisLineColor: '#3b4555', gridLineColor: '#2b3340', strokeWidth: 1.5,
        }));
      }
    });
  }

  function openStream() {
    if (state.source) state.source.close();
    resetLive();
    const source = new EventSource('/api/stream?units=' + state.units);
    state.source = source;
    source.onopen = () => setStatus('live', 'live');
    source.onmessage = (event) => addReading(JSON.parse(event.data));
    source.addEventListener('end', (event) => {
      setStatus('live data ended: ' + JSON.parse(event.data), 'bad');
      source.close();
    });
    source.onerror = () => {
      if (source.readyState === EventSource.CLOSED) {
        setStatus('no live data (the server takes only a few viewers at once)', 'bad');
      } else {
        setStatus('reconnecting…');
      }
    };
  }

  // ---- the report, per ECU ----

  function card(title, wide) {
    const box = el('div', wide ? 'card wide' : 'card');
    box.append(el('h3', '', title));
    return box;
  }

  function table(headings, rows) {
    const element = el('table');
    const head = el('tr');
    headings.forEach((heading) => head.append(el('th', '', heading)));
    element.append(head);
    rows.forEach((cells) => {
      const row = el('tr');
      cells.forEach((cell) => {
        const td = el('td');
        if (cell instanceof Node) td.append(cell); else td.textContent = cell === null ? '—' : cell;
        row.append(td);
      });
      element.append(row);
    });
    return element;
  }

  function milCard(mil) {
    const box = card('Malfunction indicator lamp');
    const on = mil.status === 'on';
    box.append(el('div', 'mil ' + (on ? 'on' : 'off'), mil.status === null ? 'MIL unknown' : on ? 'MIL ON' : 'MIL off'));
    if (mil.distanceSince) box.append(el('div', '', 'Distance: ' + (mil.distanceSince.text || '—')));
    if (mil.runTimeSince) box.append(el('div', '', 'Run time: ' + (mil.runTimeSince.text || '—')));
    return box;
  }

  function codesCard(ecu) {
    const box = card('Trouble codes');
    const codes = ecu.clearCodes || ecu.troubleCodes;
    if (ecu.clearCodes) {
      box.append(el('div', ecu.clearCodes.accepted ? 'pass' : 'fail',
        ecu.clearCodes.accepted ? 'Codes cleared; now:' : 'The ECU refused to clear its codes; now:'));
    }
    ['confirmed', 'pending', 'permanent'].forEach((kind) => {
      const list = el('ul', 'codes ' + kind);
      codes[kind].forEach((code) => {
        const item = el('li');
        item.append(el('span', 'code', code.code), document.createTextNode(code.description || ''));
        list.append(item);
      });
      if (codes[kind].length === 0) list.append(el('li', 'unsupported', 'none'));
      box.append(el('div', 'unsupported', kind[0].toUpperCase() + kind.slice(1)), list);
    });
    return box;
  }

  function framesCard(frames) {
    const box = card('Freeze frames');
    if (frames.length === 0) box.append(el('div', 'unsupported', 'none'));
    frames.forEach((frame) => {
      box.append(el('div', 'code', 'Frame ' + frame.frame + ' · ' + frame.troubleCode));
      const rows = [];
      frame.parameters.forEach((parameter) => parameter.sensors.forEach((sensor) => rows.push([sensor.name, sensor.text])));
      box.append(table(['Parameter', 'Value'], rows));
    });
    return box;
  }

  function readinessCard(readiness) {
    const box = card('Readiness since codes cleared');
    const list = el('ul', 'readiness');
    readiness.sinceReset.forEach((monitor) => {
      const kind = !monitor.supported ? 'unsupported' : monitor.complete ? 'complete' : 'incomplete';
      const item = el('li');
      item.append(el('span', kind, kind === 'unsupported' ? '○ ' : kind === 'complete' ? '● ' : '◐ '),
        document.createTextNode(monitor.name + ' — ' + (kind === 'unsupported' ? 'not supported' : kind)));
      list.append(item);
    });
    box.append(list);
    return box;
  }

  // Where the value lies between its limits: the band is the allowed range.
  function bar(test) {
    const value = test.value.value, minimum = test.minimum.value, maximum = test.maximum.value;
    const element = el('div', 'bar');
    if ([value, minimum, maximum].some((number) => typeof number !== 'number')) return element;
    const low = Math.min(value, minimum), high = Math.max(value, maximum);
    const at = (number) => (high === low ? 50 : ((number - low) / (high - low)) * 100);
    const band = el('div', 'band');
    band.style.left = at(minimum) + '%';
    band.style.width = (at(maximum) - at(minimum)) + '%';
    const mark = el('div', 'mark');
    mark.style.left = at(value) + '%';
    element.append(band, mark);
    return element;
  }

  function monitorsCard(tests) {
    const box = card('On-board monitor tests', true);
    const element = table(['Monitor', 'Test', 'Value', '', 'Minimum', 'Maximum', 'Result'],
      tests.map((test) => [test.monitor, test.test, test.value.text, bar(test), test.minimum.text, test.maximum.text,
        el('span', test.passed ? 'pass' : 'fail', test.passed ? 'pass' : 'FAIL')]));
    tests.forEach((test, index) => { if (!test.passed) element.rows[index + 1].classList.add('failed'); });
    box.append(tests.length ? element : el('div', 'unsupported', 'none'));
    return box;
  }

  function infoCard(info) {
    const box = card('Vehicle information');
    box.append(table(['Item', 'Value'], info.map((item) => [item.name, item.value])));
    return box;
  }

  function renderReport(report) {
    $('title').textContent = report.source.title;
    const container = $('ecus');
    container.replaceChildren();
    report.ecus.forEach((ecu) => {
      const name = ecu.info.find((item) => item.name === 'ECU Name');
      const section = el('section', 'ecu');
      section.dataset.ecu = ecu.address;
      section.append(el('h2', '', 'ECU 0x' + ecu.address.toString(16).toUpperCase() + (name && name.value ? ' · ' + name.value : '')));
      const cards = el('div', 'cards');
      cards.append(milCard(ecu.mil), codesCard(ecu), readinessCard(ecu.readiness), infoCard(ecu.info),
        framesCard(ecu.freezeFrames), monitorsCard(ecu.monitorTests));
      section.append(cards);
      container.append(section);
    });
    if (report.ecus.length) $('ecu-live').textContent = 'ECU 0x' + report.ecus[0].address.toString(16).toUpperCase();
  }

  async function loadReport() {
    try {
      renderReport(await getJson('/api/report?units=' + state.units));
    } catch (error) {
      setStatus('no report: ' + error.message, 'bad');
    }
  }

  async function clearCodes() {
    if (!window.confirm('Clear the trouble codes of the vehicle? This turns the MIL off and erases the ' +
        'freeze frames and the readiness results until the monitors run again.')) return;
    try {
      renderReport(await getJson('/api/clear-codes?units=' + state.units,
        { method: 'POST', headers: { 'X-Zelt-Confirm': state.settings.clearToken } }));
    } catch (error) {
      setStatus('clearing failed: ' + error.message, 'bad');
    }
  }

  // ---- controls ----

  function start() {
    $('units').addEventListener('change', (event) => {
      state.units = event.target.value;
      $('csv').href = '/api/readings.csv?units=' + state.units;
      openStream();
      loadReport();
    });
    $('pause').addEventListener('click', (event) => {
      state.paused = !state.paused;
      event.target.textContent = state.paused ? 'Resume' : 'Pause';
      if (!state.paused) draw();
    });
    $('clear').addEventListener('click', clearCodes);
    getJson('/api/settings').then((settings) => {
      state.settings = settings;
      $('clear').hidden = !settings.allowClear;
    }).catch((error) => setStatus('no settings: ' + error.message, 'bad'));
    openStream();
    loadReport();
    // Codes and readiness change slowly; the server rescans at most every 10 s whoever asks.
    setInterval(loadReport, 30000);
  }

  start();
})();
