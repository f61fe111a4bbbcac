// A Grafana dashboard of the sites' converters: what answers against what
// should, which do not answer, which drifted from their roster, how long since
// the last check, and the application versions across the fleet. Plain
// dashboard JSON: nothing beyond jsonnet itself is needed to build it.
local panel(id, title, type, x, y, w, h, targets, extra={}) = {
  id: id,
  title: title,
  type: type,
  datasource: { type: 'prometheus', uid: '${datasource}' },
  gridPos: { x: x, y: y, w: w, h: h },
  targets: [
    { refId: std.char(65 + i), expr: targets[i].expr, legendFormat: targets[i].legend }
    + (if std.objectHas(targets[i], 'instant') then { instant: true, format: 'table' } else {})
    for i in std.range(0, std.length(targets) - 1)
  ],
} + extra;

{
  grafanaDashboards+:: {
    'lbxconfig.json':
      local c = $._config;
      local site = '%(siteLabel)s=~"$%(siteLabel)s"' % c;
      local sel = '%s, %s' % [c.lbxSelector, site];
      {
        uid: c.grafanaDashboardUid,
        title: 'LBX converters',
        tags: ['lbxconfig'],
        timezone: 'browser',
        schemaVersion: 36,
        refresh: '1m',
        time: { from: 'now-6h', to: 'now' },
        templating: {
          list: [
            { name: 'datasource', type: 'datasource', query: 'prometheus', label: 'Data source' },
            {
              name: c.siteLabel,
              label: 'Site',
              type: 'query',
              datasource: { type: 'prometheus', uid: '${datasource}' },
              query: 'label_values(lbx_converters_expected{%s}, %s)' % [c.lbxSelector, c.siteLabel],
              refresh: 2,
              multi: true,
              includeAll: true,
              allValue: '.*',
            },
          ],
        },
        panels: [
          panel(1, 'Converters answering', 'stat', 0, 0, 6, 5, [
            { expr: 'sum(%s:lbx_converters_found:sum{%s})' % [c.siteLabel, site], legend: 'answering' },
            { expr: 'sum(%s:lbx_converters_expected:sum{%s})' % [c.siteLabel, site], legend: 'expected' },
          ]),
          panel(2, 'Since the last successful check', 'stat', 6, 0, 6, 5, [
            { expr: 'max(time() - lbx_check_last_success_timestamp_seconds{%s})' % sel, legend: 'oldest' },
          ], { fieldConfig: { defaults: { unit: 's' }, overrides: [] } }),
          panel(3, 'Application versions', 'piechart', 12, 0, 12, 5, [
            { expr: 'sum by (app_version) (lbx_converter_info{%s})' % sel, legend: '{{app_version}}' },
          ]),
          panel(4, 'Answering and expected, by site', 'timeseries', 0, 5, 24, 8, [
            { expr: '%s:lbx_converters_found:sum{%s}' % [c.siteLabel, site], legend: '{{%s}} answering' % c.siteLabel },
            { expr: '%s:lbx_converters_expected:sum{%s}' % [c.siteLabel, site], legend: '{{%s}} expected' % c.siteLabel },
          ]),
          panel(5, 'Converters not answering', 'table', 0, 13, 12, 8, [
            { expr: 'lbx_converter_up{%s} == 0' % sel, legend: '', instant: true },
          ]),
          panel(6, 'Settings drifted from the roster', 'table', 12, 13, 12, 8, [
            { expr: 'lbx_converter_changed{%s} == 1' % sel, legend: '', instant: true },
          ]),
        ],
      },
  },
}
